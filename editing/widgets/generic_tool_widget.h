// The container of one correction tool's panel. A tool announces when its panel opens or closes
// and when its correction is switched on or off; with a header attached, the header's two buttons
// drive both announcements.
#pragma once

#include <QWidget>

class ToolHeaderWidget;

class GenericToolWidget : public QWidget {
    Q_OBJECT

public:
    explicit GenericToolWidget(QWidget* parent = nullptr);
    ~GenericToolWidget() override;

    // Forwards the header's show and enabler toggles as toolOpenChanged and toolEnabledChanged.
    void attachHeader(ToolHeaderWidget* header);

signals:
    void toolOpenChanged(bool open);
    void toolEnabledChanged(bool enabled);
};

// The header of one correction tool: its title, a checkable button that opens and closes the
// tool's panel and a checkable button that switches the tool's correction on and off.
#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

class ToolHeaderWidget : public QFrame {
    Q_OBJECT

public:
    explicit ToolHeaderWidget(QWidget* parent = nullptr);
    ~ToolHeaderWidget() override;

    void setTitle(const QString& title);
    QString title() const;

    // The checkable button that opens and closes the tool (its state is the tool's open state).
    QPushButton* headerToggleButton() const { return showButton; }
    QPushButton* enablerButton() const { return enabler; }

    // Which of the two buttons the header shows; kept so that restoreHeaderVisibility can put the
    // header back after a caller changed it (a reset rebuilds the panel's state).
    void setShowButtonVisibility(bool visible);
    void setEnablerButtonVisibility(bool visible);
    void restoreHeaderVisibility();

signals:
    void showButtonToggled(bool checked);
    void enablerButtonToggled(bool checked);

private:
    void retranslateUi();

    QLabel* titleLabel;
    QPushButton* showButton;
    QPushButton* enabler;
    bool showButtonVisible = true; // the show button's kept visibility
    bool enablerVisible = true;    // the enabler button's kept visibility
};

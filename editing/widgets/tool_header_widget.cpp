#include "editing/widgets/tool_header_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

ToolHeaderWidget::ToolHeaderWidget(QWidget* parent)
    : QFrame(parent), titleLabel(new QLabel(this)), showButton(new QPushButton(this)), enabler(new QPushButton(this))
{
    setObjectName(QStringLiteral("toolHeader"));
    titleLabel->setObjectName(QStringLiteral("toolTitle"));
    showButton->setObjectName(QStringLiteral("showButton"));
    enabler->setObjectName(QStringLiteral("enablerButton"));
    showButton->setCheckable(true);
    showButton->setChecked(true);
    enabler->setCheckable(true);
    enabler->setChecked(true);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(enabler);
    layout->addWidget(titleLabel, 1);
    layout->addWidget(showButton);

    connect(showButton, &QPushButton::toggled, this, &ToolHeaderWidget::showButtonToggled);
    connect(enabler, &QPushButton::toggled, this, &ToolHeaderWidget::enablerButtonToggled);
    retranslateUi();
}

ToolHeaderWidget::~ToolHeaderWidget() = default;

void ToolHeaderWidget::retranslateUi()
{
    showButton->setToolTip(tr("Show or hide the tool"));
    enabler->setToolTip(tr("Switch the correction on or off"));
    showButton->setText(tr("Show"));
    enabler->setText(tr("On"));
}

void ToolHeaderWidget::setTitle(const QString& title)
{
    titleLabel->setText(title);
}

QString ToolHeaderWidget::title() const
{
    return titleLabel->text();
}

void ToolHeaderWidget::setShowButtonVisibility(bool visible)
{
    showButtonVisible = visible;
    showButton->setVisible(visible);
}

void ToolHeaderWidget::setEnablerButtonVisibility(bool visible)
{
    enablerVisible = visible;
    enabler->setVisible(visible);
}

void ToolHeaderWidget::restoreHeaderVisibility()
{
    showButton->setVisible(showButtonVisible);
    enabler->setVisible(enablerVisible);
}

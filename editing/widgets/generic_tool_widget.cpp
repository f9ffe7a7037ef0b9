#include "editing/widgets/generic_tool_widget.h"

#include "editing/widgets/tool_header_widget.h"

GenericToolWidget::GenericToolWidget(QWidget* parent) : QWidget(parent) {}

GenericToolWidget::~GenericToolWidget() = default;

void GenericToolWidget::attachHeader(ToolHeaderWidget* header)
{
    connect(header, &ToolHeaderWidget::showButtonToggled, this, &GenericToolWidget::toolOpenChanged);
    connect(header, &ToolHeaderWidget::enablerButtonToggled, this, &GenericToolWidget::toolEnabledChanged);
}

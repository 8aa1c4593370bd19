#include "focusframe.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QWidget>

void drawFocusFrame(QPainter& painter, const QWidget& widget) {
    QStyleOptionFocusRect option;
    option.initFrom(&widget);
    option.rect = widget.rect().adjusted(1, 1, -1, -1);
    option.backgroundColor = widget.palette().color(widget.backgroundRole());
    widget.style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, &widget);
}

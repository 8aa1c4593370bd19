#include "focusframe.h"

#include <QPainter>
#include <QWidget>

void drawFocusFrame(QPainter& painter, const QWidget& widget) {
    painter.save();
    painter.setClipping(false);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(widget.palette().color(QPalette::Highlight), 2);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(widget.rect()).adjusted(1, 1, -1, -1));
    painter.restore();
}

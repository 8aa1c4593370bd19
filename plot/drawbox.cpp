#include "drawbox.h"

#include "focusframe.h"
#include "plotmodel.h"

#include <QAccessibleWidget>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr double kTwipsPerPixel = 15.0;

double pixels(double twips) {
    return twips / kTwipsPerPixel;
}

// To assistive technology the box is a chart, not an empty panel.
QAccessibleInterface* drawBoxAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("DrawBox") && object->isWidgetType()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Chart);
    }
    return nullptr;
}

} // namespace

DrawBox::DrawBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    static const bool accessible = [] {
        QAccessible::installFactory(drawBoxAccessible);
        return true;
    }();
    Q_UNUSED(accessible);
}

void DrawBox::setModel(const plot::PlotModel* model) {
    m_model = model;
    update();
}

void DrawBox::refresh() {
    if (std::exchange(m_changed, false)) {
        update();
    }
}

void DrawBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (m_model) {
        paintChart(painter);
    }
    if (hasFocus()) {
        drawFocusFrame(painter, *this);
    }
}

void DrawBox::paintChart(QPainter& painter) const {
    using plot::PlotModel;
    // Everything below is in twips relative to the frame, turned into pixels only once the
    // values are small: the box itself may be wider than any pixel coordinate.
    const double boxLeft = m_model->leftOffset();
    const double boxRight = boxLeft + static_cast<double>(m_model->outerWidth());
    const double viewRight = static_cast<double>(PlotModel::kFrameWidth);
    const double shownLeft = std::max(boxLeft, 0.0);
    const double shownRight = std::min(boxRight, viewRight + kTwipsPerPixel);
    const QRectF box(pixels(shownLeft), 0, pixels(shownRight - shownLeft), height());
    painter.fillRect(box, palette().base());

    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(QPointF(box.left(), 0.5), QPointF(box.right(), 0.5));
    painter.drawLine(QPointF(box.left(), height() - 0.5), QPointF(box.right(), height() - 0.5));
    if (boxLeft >= 0) {
        painter.drawLine(QPointF(pixels(boxLeft) + 0.5, 0),
                         QPointF(pixels(boxLeft) + 0.5, height()));
    }
    if (boxRight <= viewRight + kTwipsPerPixel) {
        const double x = pixels(boxRight) - 0.5;
        painter.drawLine(QPointF(x, 0), QPointF(x, height()));
    }

    const double originX = boxLeft + PlotModel::kBorder;
    const double originY = PlotModel::kBorder;
    painter.setClipRect(QRectF(pixels(originX), pixels(originY),
                               pixels(static_cast<double>(m_model->innerWidth())),
                               pixels(static_cast<double>(m_model->innerHeight()))));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    painter.setBrush(Qt::NoBrush);
    const double radius = pixels(PlotModel::kCircleRadius);
    const auto firstShown = static_cast<qint64>(std::floor(-originX));
    const auto lastShown = static_cast<qint64>(std::ceil(viewRight - originX));
    m_model->forEachStrokeIn(firstShown, lastShown, [&](const plot::PlotStroke& stroke) {
        const QPointF point(pixels(originX + static_cast<double>(stroke.x)),
                            pixels(originY + stroke.y));
        const QPointF previous(pixels(originX + static_cast<double>(stroke.x - PlotModel::kStep)),
                               pixels(originY + stroke.previousY));
        painter.drawEllipse(point, radius, radius);
        painter.drawLine(point, previous);
    });
}

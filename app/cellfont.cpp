#include "cellfont.h"

#include "responsetext.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr qreal kBoxPadding = 3; // each side of a name: 1 px gap, the frame, 1 px inside

} // namespace

CellFont::CellFont(const QFont& font) : m_font(font), m_textFont(font), m_nameFont(font) {
    m_textFont.setKerning(false);
    m_textFont.setStyleStrategy(
        QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
    if (font.pointSizeF() > 0) {
        m_nameFont.setPointSizeF(font.pointSizeF() * 0.75);
    } else {
        m_nameFont.setPixelSize(std::max(6, font.pixelSize() * 3 / 4));
    }
    const QFontMetricsF text(m_textFont);
    const QFontMetricsF names(m_nameFont);
    m_ascent = text.ascent();
    m_rowHeight = text.height();
    for (int byte = 0; byte < 256; ++byte) {
        const QLatin1StringView name = terminal::ResponseText::boxedName(uchar(byte));
        m_boxed[byte] = !name.isEmpty();
        m_advance[byte] = name.isEmpty() ? text.horizontalAdvance(QChar(byte))
                                         : names.horizontalAdvance(name) + 2 * kBoxPadding;
    }
}

qreal CellFont::tabAdvance(qreal x) {
    constexpr qreal kTabStop = 80;
    return (std::floor(x / kTabStop) + 1) * kTabStop - x;
}

const QPixmap& CellFont::box(uchar byte, const QColor& color, qreal devicePixelRatio) const {
    auto boxes = std::find_if(m_boxes.begin(), m_boxes.end(), [&](const Boxes& made) {
        return made.color == color.rgba() && made.ratio == devicePixelRatio;
    });
    if (boxes == m_boxes.end()) {
        boxes = m_boxes.begin() + std::exchange(m_older, 1 - m_older);
        *boxes = {color.rgba(), devicePixelRatio, {}};
    }
    QPixmap& picture = boxes->pictures[byte];
    if (picture.isNull()) {
        picture = makeBox(byte, color, devicePixelRatio);
    }
    return picture;
}

QPixmap CellFont::makeBox(uchar byte, const QColor& color, qreal devicePixelRatio) const {
    const QSizeF size(m_advance[byte], m_rowHeight);
    QPixmap picture(int(std::ceil(size.width() * devicePixelRatio)),
                    int(std::ceil(size.height() * devicePixelRatio)));
    picture.setDevicePixelRatio(devicePixelRatio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(color);
    painter.setFont(m_nameFont);
    const QRectF frame = QRectF(QPointF(), size).adjusted(1.5, 1.5, -1.5, -1.5);
    painter.drawRoundedRect(frame, 2, 2);
    painter.drawText(frame, Qt::AlignCenter, QString(terminal::ResponseText::boxedName(byte)));
    return picture;
}

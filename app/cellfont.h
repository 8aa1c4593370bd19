#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>

#include <array>
#include <bitset>

/// The response field's font as lines with control characters use it: each byte is a cell of
/// a fixed advance, a control character's cell as wide as the small box with its name
/// (terminal::ResponseText::boxedName()). Such a line is laid out by adding advances, and a
/// box is a picture made once per byte and colour, not drawn anew: a device that sends a
/// stream of NUL fills the field with boxes. The text of these lines is drawn without kerning
/// or ligatures, so that every character stands on its cell.
class CellFont {
public:
    explicit CellFont(const QFont& font);

    const QFont& font() const { return m_font; } ///< the font the cells were measured for
    const QFont& textFont() const { return m_textFont; }
    qreal advance(uchar byte) const { return m_advance[byte]; }
    bool boxed(uchar byte) const { return m_boxed[byte]; }
    qreal ascent() const { return m_ascent; }
    qreal rowHeight() const { return m_rowHeight; }
    /// How far a tab at x reaches: to the next multiple of 80 px, as Qt's text layout does.
    static qreal tabAdvance(qreal x);

    /// The box of a boxed byte, its frame and name in the colour given, one row high.
    const QPixmap& box(uchar byte, const QColor& color, qreal devicePixelRatio) const;

private:
    QPixmap makeBox(uchar byte, const QColor& color, qreal devicePixelRatio) const;

    QFont m_font;
    QFont m_textFont;
    QFont m_nameFont;
    std::array<qreal, 256> m_advance{};
    std::bitset<256> m_boxed;
    qreal m_ascent = 0;
    qreal m_rowHeight = 0;
    // Boxes as they are asked for, in two colours at a time: the text's and the selection's.
    struct Boxes {
        QRgb color = 0;
        qreal ratio = 0;
        std::array<QPixmap, 256> pictures;
    };
    mutable std::array<Boxes, 2> m_boxes;
    mutable std::size_t m_older = 0;
};

#pragma once

#include <QByteArray>
#include <QPointF>
#include <QRectF>

#include <memory>
#include <vector>

class CellFont;
class QPainter;
class QPalette;
class QTextLayout;

/// One line of the response field laid out to the field's width, wrapping at spaces, or
/// anywhere in a word longer than a row. A line of ordinary text is Qt's text layout, kerning
/// and all. A line with control characters is laid out here on the cells of a CellFont, by
/// adding advances, and only its rows in view are drawn: a line of 2048 NUL boxes costs
/// little more than one of text.
class LineLayout {
public:
    LineLayout(QByteArrayView bytes, const CellFont& cells, qreal width);
    LineLayout(LineLayout&&) noexcept;
    LineLayout& operator=(LineLayout&&) noexcept;
    ~LineLayout();

    /// Whole pixels, the rows together.
    int height() const;
    /// The rows the line wraps into, at least one.
    int rowCount() const;
    /// A row's first character and its top in pixels below the line's top.
    int rowStart(int row) const;
    int rowTop(int row) const;
    /// The row that holds a character, the last row for the end of the line.
    int rowOf(int column) const;
    /// The place between two characters nearest to a point relative to the line's top left.
    int columnAt(QPointF point) const;
    /// Where a character stands, relative to the line's top left; at the end of the line, a
    /// narrow box after its last character.
    QRectF characterRect(int column) const;
    /// Draws the rows that meet clip, with the characters from `from` up to `to` selected.
    void draw(QPainter& painter, QPointF origin, int from, int to, const QPalette& palette,
              const QRectF& clip) const;

private:
    void breakRows(qreal width);
    int rowEnd(std::size_t row) const;
    qreal advance(int column, qreal x) const;
    void drawRow(QPainter& painter, std::size_t row, QPointF origin, int from, int to,
                 const QPalette& palette) const;

    QByteArray m_bytes;
    const CellFont* m_cells;
    std::unique_ptr<QTextLayout> m_text; // a line without control characters
    std::vector<int> m_rowStart;         // otherwise, where each row begins
};

#include "linelayout.h"

#include "cellfont.h"
#include "responsetext.h"

#include <QPainter>
#include <QPalette>
#include <QTextLayout>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>

LineLayout::LineLayout(QByteArrayView bytes, const CellFont& cells, qreal width)
    : m_bytes(bytes.toByteArray()), m_cells(&cells) {
    if (std::any_of(bytes.begin(), bytes.end(), [&](char c) { return cells.boxed(uchar(c)); })) {
        breakRows(width);
        return;
    }
    m_text = std::make_unique<QTextLayout>(terminal::ResponseText::shown(bytes), cells.font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_text->setTextOption(option);
    m_text->setCacheEnabled(true);
    m_text->beginLayout();
    qreal height = 0;
    for (QTextLine row = m_text->createLine(); row.isValid(); row = m_text->createLine()) {
        row.setLineWidth(width);
        row.setPosition(QPointF(0, height));
        height += row.height();
    }
    m_text->endLayout();
}

LineLayout::LineLayout(LineLayout&&) noexcept = default;
LineLayout& LineLayout::operator=(LineLayout&&) noexcept = default;
LineLayout::~LineLayout() = default;

void LineLayout::breakRows(qreal width) {
    // As Qt's layout wraps: after white space, and anywhere in a word longer than a row;
    // white space at the end of a row may reach beyond it.
    m_rowStart = {0};
    int rowStart = 0;
    int wordStart = 0;
    qreal x = 0;
    qreal wordX = 0;
    for (int column = 0; column < m_bytes.size(); ++column) {
        const qreal cell = advance(column, x);
        if (m_bytes[column] == ' ' || m_bytes[column] == '\t') {
            x += cell;
            wordStart = column + 1;
            wordX = x;
            continue;
        }
        while (x + cell > width && column > rowStart) {
            if (wordStart > rowStart) {
                rowStart = wordStart;
                x -= wordX;
            } else {
                rowStart = wordStart = column;
                x = 0;
            }
            wordX = 0;
            m_rowStart.push_back(rowStart);
        }
        x += cell;
    }
}

int LineLayout::rowEnd(std::size_t row) const {
    return row + 1 < m_rowStart.size() ? m_rowStart[row + 1] : int(m_bytes.size());
}

qreal LineLayout::advance(int column, qreal x) const {
    const auto byte = uchar(m_bytes[column]);
    return byte == '\t' ? CellFont::tabAdvance(x) : m_cells->advance(byte);
}

int LineLayout::height() const {
    if (m_text) {
        return int(std::ceil(m_text->boundingRect().height()));
    }
    return int(std::ceil(qreal(m_rowStart.size()) * m_cells->rowHeight()));
}

int LineLayout::rowCount() const {
    return m_text ? std::max(1, m_text->lineCount()) : int(m_rowStart.size());
}

int LineLayout::rowStart(int row) const {
    if (m_text) {
        return m_text->lineCount() > 0 ? m_text->lineAt(row).textStart() : 0;
    }
    return m_rowStart[std::size_t(row)];
}

int LineLayout::rowTop(int row) const {
    if (m_text) {
        return m_text->lineCount() > 0 ? int(m_text->lineAt(row).y()) : 0;
    }
    return int(row * m_cells->rowHeight());
}

int LineLayout::rowOf(int column) const {
    if (m_text) {
        const QTextLine row = m_text->lineForTextPosition(column);
        return row.isValid() ? row.lineNumber() : rowCount() - 1;
    }
    return int(std::upper_bound(m_rowStart.begin(), m_rowStart.end(), column) -
               m_rowStart.begin()) -
           1;
}

int LineLayout::columnAt(QPointF point) const {
    if (m_text) {
        for (int i = 0; i < m_text->lineCount(); ++i) {
            const QTextLine row = m_text->lineAt(i);
            if (point.y() < row.y() + row.height() || i == m_text->lineCount() - 1) {
                return row.xToCursor(point.x());
            }
        }
        return 0;
    }
    const auto row = std::size_t(
        std::clamp(int(point.y() / m_cells->rowHeight()), 0, int(m_rowStart.size()) - 1));
    qreal x = 0;
    for (int column = m_rowStart[row]; column < rowEnd(row); ++column) {
        const qreal cell = advance(column, x);
        if (point.x() < x + cell / 2) {
            return column;
        }
        x += cell;
    }
    return rowEnd(row);
}

QRectF LineLayout::characterRect(int column) const {
    if (m_text) {
        if (m_text->lineCount() == 0) {
            return {0, 0, 1, m_cells->rowHeight()};
        }
        const QTextLine row = m_text->lineAt(rowOf(column));
        const qreal x = row.cursorToX(column);
        const qreal right = column < m_bytes.size() ? row.cursorToX(column + 1) : x + 1;
        return {std::min(x, right), row.y(), std::max<qreal>(1, std::abs(right - x)), row.height()};
    }
    const auto row = std::size_t(rowOf(column));
    qreal x = 0;
    for (int before = m_rowStart[row]; before < column; ++before) {
        x += advance(before, x);
    }
    const qreal width = column < rowEnd(row) ? advance(column, x) : 1;
    return {x, qreal(row) * m_cells->rowHeight(), width, m_cells->rowHeight()};
}

void LineLayout::draw(QPainter& painter, QPointF origin, int from, int to, const QPalette& palette,
                      const QRectF& clip) const {
    if (m_text) {
        QList<QTextLayout::FormatRange> selection;
        if (from < to) {
            QTextLayout::FormatRange range;
            range.start = from;
            range.length = to - from;
            range.format.setBackground(palette.brush(QPalette::Highlight));
            range.format.setForeground(palette.brush(QPalette::HighlightedText));
            selection << range;
        }
        painter.setPen(palette.color(QPalette::Text));
        m_text->draw(&painter, origin, selection, clip);
        return;
    }
    const qreal height = m_cells->rowHeight();
    const int first = std::max(0, int(std::floor((clip.top() - origin.y()) / height)));
    const int last = std::min(int(m_rowStart.size()) - 1,
                              int(std::floor((clip.bottom() - origin.y()) / height)));
    for (int row = first; row <= last; ++row) {
        drawRow(painter, std::size_t(row), origin + QPointF(0, row * height), from, to, palette);
    }
}

void LineLayout::drawRow(QPainter& painter, std::size_t row, QPointF origin, int from, int to,
                         const QPalette& palette) const {
    const int start = m_rowStart[row];
    const int end = rowEnd(row);
    QVarLengthArray<qreal, 256> x(end - start + 1); // where each cell begins, and the row ends
    x[0] = origin.x();
    for (int column = start; column < end; ++column) {
        x[column - start + 1] = x[column - start] + advance(column, x[column - start] - origin.x());
    }
    const auto at = [&](int column) {
        return x[column - start];
    };
    const int selectedFrom = std::clamp(from, start, end);
    const int selectedTo = std::clamp(to, start, end);
    if (selectedFrom < selectedTo) {
        painter.fillRect(QRectF(at(selectedFrom), origin.y(), at(selectedTo) - at(selectedFrom),
                                m_cells->rowHeight()),
                         palette.brush(QPalette::Highlight));
    }
    const auto color = [&](int column) {
        const bool selected = column >= selectedFrom && column < selectedTo;
        return palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    };
    // Text in runs between boxes, tabs and the ends of the selection; a box as its picture.
    painter.setFont(m_cells->textFont());
    const qreal ratio = painter.device()->devicePixelRatio();
    int run = start;
    const auto drawRun = [&](int column) {
        if (run < column) {
            painter.setPen(color(run));
            painter.drawText(QPointF(at(run), origin.y() + m_cells->ascent()),
                             QString::fromLatin1(m_bytes.constData() + run, column - run));
        }
    };
    for (int column = start; column < end; ++column) {
        const auto byte = uchar(m_bytes[column]);
        const bool cell = m_cells->boxed(byte) || byte == '\t';
        if (cell || column == selectedFrom || column == selectedTo) {
            drawRun(column);
            run = cell ? column + 1 : column;
        }
        if (m_cells->boxed(byte)) {
            painter.drawPixmap(QPointF(at(column), origin.y()),
                               m_cells->box(byte, color(column), ratio));
        }
    }
    drawRun(end);
}

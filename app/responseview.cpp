#include "responseview.h"

#include "responsetext.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <utility>

namespace {

constexpr int kMargin = 3; // between the frame and the text

// A byte without a trustworthy glyph (a control character) is laid out as this character,
// widened to its box, and the box with the byte's name is drawn over it.
constexpr QChar kBoxedPlaceholder(0x00A0);
constexpr qreal kBoxPadding = 3; // each side of a name: 1 px gap, the frame, 1 px inside

QFont boxedNameFont(const QFont& text) {
    QFont font = text;
    if (text.pointSizeF() > 0) {
        font.setPointSizeF(text.pointSizeF() * 0.75);
    } else {
        font.setPixelSize(std::max(6, text.pixelSize() * 3 / 4));
    }
    return font;
}

} // namespace

ResponseView::ResponseView(QWidget* parent) : QAbstractScrollArea(parent) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
}

ResponseView::~ResponseView() {
    clearShownLines();
}

QByteArrayView ResponseView::lineBytes(qint64 line) const {
    const auto index = static_cast<std::size_t>(line - m_dropped);
    const qsizetype begin = m_lineStart[index];
    const qsizetype end = index + 1 < m_lineStart.size() ? m_lineStart[index + 1] : m_bytes.size();
    return QByteArrayView(m_bytes).sliced(begin, end - begin);
}

QString ResponseView::lineText(qint64 line) const {
    return terminal::ResponseText::shown(lineBytes(line));
}

void ResponseView::append(QByteArrayView bytes) {
    if (bytes.isEmpty()) {
        return;
    }
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = bytes.indexOf('\n', start);
        m_bytes.append(bytes.sliced(start, (end < 0 ? bytes.size() : end) - start));
        if (end < 0) {
            break;
        }
        m_lineStart.push_back(quint32(m_bytes.size()));
        start = end + 1;
    }
    trim();
    changed();
}

void ResponseView::append(QStringView text) {
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        bytes[i] = static_cast<char>(text[i].unicode());
    }
    append(QByteArrayView(bytes));
}

void ResponseView::changed() {
    m_shownValid = false;
    m_changed = true;
}

void ResponseView::refresh() {
    if (std::exchange(m_changed, false)) {
        updateScrollBar();
        viewport()->update();
    }
}

void ResponseView::trim() {
    if (characterCount() <= kLimit) {
        return;
    }
    while (m_lineStart.size() > 1 && characterCount() - lineLength(firstLine()) - 1 >= kKept) {
        m_lineStart.pop_front();
        ++m_dropped;
    }
    // The dropped lines' bytes go once they are most of the buffer.
    const quint32 unused = m_lineStart.front();
    if (unused > m_bytes.size() / 2) {
        m_bytes.remove(0, unused);
        for (quint32& start : m_lineStart) {
            start -= unused;
        }
    }
    const Position first{firstLine(), 0};
    m_anchor = std::max(m_anchor, first);
    m_cursor = std::max(m_cursor, first);
}

void ResponseView::clear() {
    m_dropped += qint64(m_lineStart.size());
    m_lineStart = {0};
    m_bytes.clear();
    m_anchor = m_cursor = {firstLine(), 0};
    m_followEnd = true;
    changed();
}

QString ResponseView::text() const {
    QString all;
    all.reserve(characterCount());
    for (qint64 line = firstLine(); line <= lastLine(); ++line) {
        if (line > firstLine()) {
            all.append(u'\n');
        }
        all.append(lineText(line));
    }
    return all;
}

void ResponseView::caretToEnd() {
    // A selection the user is making stays: only the view moves to the newest text.
    m_followEnd = true;
    changed();
}

bool ResponseView::atEnd() const {
    return m_followEnd;
}

void ResponseView::updateScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    const QSignalBlocker quiet(bar);
    const int lines = int(std::min<std::size_t>(m_lineStart.size(), INT_MAX));
    const int perPage =
        std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing()));
    bar->setRange(0, std::max(0, lines - 1));
    bar->setPageStep(perPage);
    if (m_followEnd) {
        bar->setValue(bar->maximum());
    }
}

void ResponseView::scrollContentsBy(int, int) {
    // The scroll bar's value is the first line shown; at its end the view follows new text.
    m_followEnd = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
    m_shownValid = false;
    viewport()->update();
}

void ResponseView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    m_shownValid = false;
    updateScrollBar();
}

QTextLayout* ResponseView::layOut(qint64 line) const {
    const QByteArrayView bytes = lineBytes(line);
    QString text = terminal::ResponseText::shown(bytes);
    QList<QTextLayout::FormatRange> boxes;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const QLatin1StringView name = terminal::ResponseText::boxedName(uchar(bytes[i]));
        if (name.isEmpty()) {
            continue;
        }
        const qreal placeholderWidth = QFontMetricsF(font()).horizontalAdvance(kBoxedPlaceholder);
        const qreal boxWidth =
            QFontMetricsF(boxedNameFont(font())).horizontalAdvance(name) + 2 * kBoxPadding;
        text[i] = kBoxedPlaceholder;
        QTextLayout::FormatRange range;
        range.start = int(i);
        range.length = 1;
        range.format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
        range.format.setFontLetterSpacing(boxWidth - placeholderWidth);
        boxes << range;
    }
    auto* layout = new QTextLayout(text, font());
    layout->setFormats(boxes);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    const qreal width = viewport()->width() - 2 * kMargin;
    layout->beginLayout();
    qreal height = 0;
    for (QTextLine row = layout->createLine(); row.isValid(); row = layout->createLine()) {
        row.setLineWidth(width);
        row.setPosition(QPointF(0, height));
        height += row.height();
    }
    layout->endLayout();
    return layout;
}

void ResponseView::clearShownLines() {
    for (ShownLine& shown : m_shown) {
        delete shown.layout;
    }
    m_shown.clear();
}

void ResponseView::layOutShownLines() {
    if (m_shownValid) {
        return;
    }
    clearShownLines();
    const int height = viewport()->height();
    if (m_followEnd) {
        // The newest line at the bottom, older ones above it.
        int bottom = height - kMargin;
        for (qint64 line = lastLine(); line >= firstLine() && bottom > 0; --line) {
            QTextLayout* layout = layOut(line);
            const int lineHeight = int(std::ceil(layout->boundingRect().height()));
            bottom -= lineHeight;
            m_shown.push_back({line, bottom, layout});
        }
        std::reverse(m_shown.begin(), m_shown.end());
        // Less than a page of text starts at the top.
        if (!m_shown.empty() && m_shown.front().line == firstLine() &&
            m_shown.front().top > kMargin) {
            const int shift = m_shown.front().top - kMargin;
            for (ShownLine& shown : m_shown) {
                shown.top -= shift;
            }
        }
    } else {
        int top = kMargin;
        for (qint64 line = firstLine() + verticalScrollBar()->value();
             line <= lastLine() && top < height; ++line) {
            QTextLayout* layout = layOut(line);
            m_shown.push_back({line, top, layout});
            top += int(std::ceil(layout->boundingRect().height()));
        }
    }
    m_shownValid = true;
}

void ResponseView::paintEvent(QPaintEvent*) {
    layOutShownLines();
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const Position from = std::min(m_anchor, m_cursor);
    const Position to = std::max(m_anchor, m_cursor);
    for (const ShownLine& shown : m_shown) {
        QList<QTextLayout::FormatRange> selection;
        if (from != to && shown.line >= from.line && shown.line <= to.line) {
            const int start = shown.line == from.line ? from.column : 0;
            const int end = shown.line == to.line ? to.column : lineLength(shown.line) + 1;
            QTextLayout::FormatRange range;
            range.start = start;
            range.length = std::max(0, end - start);
            range.format.setBackground(palette().brush(QPalette::Highlight));
            range.format.setForeground(palette().brush(QPalette::HighlightedText));
            selection << range;
        }
        shown.layout->draw(&painter, QPointF(kMargin, shown.top), selection);
        drawBoxedNames(painter, shown, from, to);
    }
}

void ResponseView::drawBoxedNames(QPainter& painter, const ShownLine& shown, const Position& from,
                                  const Position& to) const {
    const QByteArrayView bytes = lineBytes(shown.line);
    const QFont nameFont = boxedNameFont(font());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const QLatin1StringView name = terminal::ResponseText::boxedName(uchar(bytes[i]));
        if (name.isEmpty()) {
            continue;
        }
        const QTextLine row = shown.layout->lineForTextPosition(int(i));
        if (!row.isValid()) {
            continue;
        }
        const qreal left = row.cursorToX(int(i), QTextLine::Leading);
        const qreal right = row.cursorToX(int(i), QTextLine::Trailing);
        const QRectF box = QRectF(kMargin + left, shown.top + row.y(), right - left, row.height())
                               .adjusted(1.5, 1.5, -1.5, -1.5);
        const Position at{shown.line, int(i)};
        const bool selected = from <= at && at < to;
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.setFont(nameFont);
        painter.drawRoundedRect(box, 2, 2);
        painter.drawText(box, Qt::AlignCenter, QString(name));
        painter.restore();
    }
}

ResponseView::Position ResponseView::positionAt(const QPoint& point) {
    layOutShownLines();
    if (m_shown.empty()) {
        return {lastLine(), 0};
    }
    for (const ShownLine& shown : m_shown) {
        const QRectF box = shown.layout->boundingRect().translated(kMargin, shown.top);
        if (point.y() < box.bottom() || &shown == &m_shown.back()) {
            if (point.y() < shown.top) {
                return {shown.line, 0};
            }
            const int local = int(point.y() - shown.top);
            for (int i = 0; i < shown.layout->lineCount(); ++i) {
                const QTextLine row = shown.layout->lineAt(i);
                if (local < row.y() + row.height() || i == shown.layout->lineCount() - 1) {
                    return {shown.line, row.xToCursor(point.x() - kMargin)};
                }
            }
        }
    }
    return {m_shown.back().line, lineLength(m_shown.back().line)};
}

void ResponseView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_cursor = positionAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier)) {
        m_anchor = m_cursor;
    }
    viewport()->update();
}

void ResponseView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) {
        return;
    }
    m_cursor = positionAt(event->position().toPoint());
    viewport()->update();
}

QString ResponseView::selectedText() const {
    const Position from = std::min(m_anchor, m_cursor);
    const Position to = std::max(m_anchor, m_cursor);
    if (from == to) {
        return {};
    }
    QString selected;
    for (qint64 line = from.line; line <= to.line; ++line) {
        const QString text = lineText(line);
        const int start = line == from.line ? from.column : 0;
        const int end = line == to.line ? to.column : int(text.size());
        selected += text.mid(start, end - start);
        if (line != to.line) {
            selected += u'\n';
        }
    }
    return selected;
}

void ResponseView::selectAll() {
    m_anchor = {firstLine(), 0};
    m_cursor = {lastLine(), lineLength(lastLine())};
    viewport()->update();
}

void ResponseView::copy() const {
    const QString selected = selectedText();
    if (!selected.isEmpty()) {
        QApplication::clipboard()->setText(selected);
    }
}

void ResponseView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copy();
    } else if (event == QKeySequence::SelectAll) {
        selectAll();
    } else if (event == QKeySequence::MoveToStartOfDocument) {
        verticalScrollBar()->setValue(0);
    } else if (event == QKeySequence::MoveToEndOfDocument) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void ResponseView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &ResponseView::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(!selectedText().isEmpty());
    menu.addAction(tr("Select &All"), this, &ResponseView::selectAll)
        ->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}

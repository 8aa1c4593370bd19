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

#include <algorithm>
#include <utility>

namespace {

constexpr int kMargin = 3; // between the frame and the text

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

LineLayout ResponseView::layOut(qint64 line) const {
    return LineLayout(lineBytes(line), *m_cells, viewport()->width() - 2 * kMargin);
}

void ResponseView::layOutShownLines() {
    if (m_shownValid) {
        return;
    }
    m_shown.clear();
    if (!m_cells || m_cells->font() != font()) {
        m_cells.emplace(font());
    }
    const int height = viewport()->height();
    if (m_followEnd) {
        // The newest line at the bottom, older ones above it.
        int bottom = height - kMargin;
        for (qint64 line = lastLine(); line >= firstLine() && bottom > 0; --line) {
            LineLayout layout = layOut(line);
            bottom -= layout.height();
            m_shown.push_back({line, bottom, std::move(layout)});
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
            LineLayout layout = layOut(line);
            const int lineHeight = layout.height();
            m_shown.push_back({line, top, std::move(layout)});
            top += lineHeight;
        }
    }
    m_shownValid = true;
}

void ResponseView::paintEvent(QPaintEvent* event) {
    layOutShownLines();
    QPainter painter(viewport());
    const Position from = std::min(m_anchor, m_cursor);
    const Position to = std::max(m_anchor, m_cursor);
    for (const ShownLine& shown : m_shown) {
        int start = 0;
        int end = 0;
        if (from != to && shown.line >= from.line && shown.line <= to.line) {
            start = shown.line == from.line ? from.column : 0;
            end = shown.line == to.line ? to.column : lineLength(shown.line) + 1;
        }
        shown.layout.draw(painter, QPointF(kMargin, shown.top), start, end, palette(),
                          event->rect());
    }
}

ResponseView::Position ResponseView::positionAt(const QPoint& point) {
    layOutShownLines();
    if (m_shown.empty()) {
        return {lastLine(), 0};
    }
    for (const ShownLine& shown : m_shown) {
        if (point.y() < shown.top + shown.layout.height() || &shown == &m_shown.back()) {
            if (point.y() < shown.top) {
                return {shown.line, 0};
            }
            return {shown.line, shown.layout.columnAt(QPointF(point - QPoint(kMargin, shown.top)))};
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

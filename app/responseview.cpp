#include "responseview.h"

#include "focusframe.h"
#include "responseaccessible.h"
#include "responsetext.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

constexpr int kMargin = 3;        // between the frame and the text
constexpr int kAutoScrollMs = 50; // a row further while a selection is dragged past an edge
constexpr int kWheelNotch = 120;  // eighths of a degree

} // namespace

ResponseView::ResponseView(QWidget* parent) : QAbstractScrollArea(parent) {
    installResponseAccessibility();
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    QScrollBar* bar = verticalScrollBar();
    bar->setAccessibleName(QStringLiteral("Position in the answers"));
    bar->setSingleStep(1);
    // Its arrows, its page steps and the keys go by rows; a dragged slider by its value
    // (scrollContentsBy); the wheel over it as over the text.
    bar->installEventFilter(this);
    connect(bar, &QAbstractSlider::actionTriggered, this, [this](int action) {
        switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            scrollByRows(1);
            break;
        case QAbstractSlider::SliderSingleStepSub:
            scrollByRows(-1);
            break;
        case QAbstractSlider::SliderPageStepAdd:
            scrollByRows(rowsPerPage());
            break;
        case QAbstractSlider::SliderPageStepSub:
            scrollByRows(-rowsPerPage());
            break;
        default:
            break;
        }
    });
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
    m_end.reset();
    m_changed = true;
}

void ResponseView::refresh() {
    if (std::exchange(m_changed, false)) {
        updateScrollBar();
        viewport()->update();
        tellTextChanges();
    }
}

void ResponseView::tellTextChanges() {
    const qint64 end = m_droppedCharacters + characterCount();
    // Without a screen reader nobody listens: only where the text stands is kept, so that
    // one that starts later is not told the whole session as new.
    if (!QAccessible::isActive()) {
        m_toldFrom = m_droppedCharacters;
        m_toldTo = end;
        m_toldDropped.clear();
        return;
    }
    // Once a frame, however many reads came: what went from the front, then what came.
    const qint64 dropped = std::min(m_droppedCharacters, m_toldTo) - m_toldFrom;
    if (dropped > 0) {
        // Short only where a screen reader started between a drop and this frame.
        m_toldDropped.resize(dropped, u' ');
        QAccessibleTextRemoveEvent removed(this, 0, m_toldDropped);
        QAccessible::updateAccessibility(&removed);
    }
    m_toldDropped.clear();
    m_toldFrom = m_droppedCharacters;
    const qint64 from = std::max(m_toldTo, m_droppedCharacters);
    if (end > from) {
        const qsizetype offset = from - m_droppedCharacters;
        QAccessibleTextInsertEvent inserted(this, int(offset),
                                            textBetween(offset, end - m_droppedCharacters));
        QAccessible::updateAccessibility(&inserted);
    }
    m_toldTo = end;
}

void ResponseView::keepToldText(qint64 line) {
    const qint64 told = m_toldTo - m_droppedCharacters; // of this line, the first one
    if (told > 0 && QAccessible::isActive()) {
        m_toldDropped += QStringView(lineText(line) + u'\n').left(told);
    }
}

void ResponseView::tellSelection() {
    if (QAccessible::isActive()) {
        const auto [from, to] = selectionOffsets();
        QAccessibleTextSelectionEvent event(this, int(from), int(to));
        event.setCursorPosition(int(cursorOffset()));
        QAccessible::updateAccessibility(&event);
    }
}

qsizetype ResponseView::lineBegins(std::size_t index) const {
    // Each break before the line counts one.
    return qsizetype(m_lineStart[index] - m_lineStart.front()) + qsizetype(index);
}

qsizetype ResponseView::offsetOf(Position position) const {
    const auto index = static_cast<std::size_t>(position.line - m_dropped);
    return lineBegins(index) + position.column;
}

ResponseView::Position ResponseView::positionOf(qsizetype offset) const {
    offset = std::clamp<qsizetype>(offset, 0, characterCount());
    // The last line that begins at or before the offset; each break counts one.
    std::size_t low = 0;
    std::size_t high = m_lineStart.size();
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        const qsizetype begins = lineBegins(middle);
        if (begins <= offset) {
            low = middle;
        } else {
            high = middle;
        }
    }
    const qsizetype begins = lineBegins(low);
    return {m_dropped + qint64(low), int(offset - begins)};
}

QString ResponseView::textBetween(qsizetype from, qsizetype to) const {
    const Position first = positionOf(from);
    const Position last = positionOf(to);
    QString text;
    for (qint64 line = first.line; line <= last.line && first < last; ++line) {
        const QByteArrayView bytes = lineBytes(line);
        const int start = line == first.line ? first.column : 0;
        const int end = line == last.line ? last.column : int(bytes.size());
        text += terminal::ResponseText::shown(bytes.sliced(start, end - start));
        if (line != last.line) {
            text += u'\n';
        }
    }
    return text;
}

std::pair<qsizetype, qsizetype> ResponseView::lineAround(qsizetype offset) const {
    const Position position = positionOf(offset);
    const qsizetype begins = offset - position.column;
    return {begins, begins + lineLength(position.line)};
}

qsizetype ResponseView::cursorOffset() const {
    return offsetOf(m_cursor);
}

std::pair<qsizetype, qsizetype> ResponseView::selectionOffsets() const {
    return std::minmax(offsetOf(m_anchor), offsetOf(m_cursor));
}

void ResponseView::selectOffsets(qsizetype anchor, qsizetype cursor) {
    m_anchor = positionOf(anchor);
    m_cursor = positionOf(cursor);
    showOffset(cursor);
    viewport()->update();
    tellSelection();
}

QRect ResponseView::characterRect(qsizetype offset) {
    layOutShownLines();
    const Position position = positionOf(offset);
    for (const ShownLine& shown : m_shown) {
        if (shown.line == position.line) {
            const QRectF inLine = shown.layout.characterRect(position.column);
            const QRect rect = inLine.translated(kMargin, shown.top).toAlignedRect();
            return rect.intersects(viewport()->rect()) ? rect : QRect();
        }
    }
    return {};
}

qsizetype ResponseView::offsetAt(const QPoint& point) {
    return offsetOf(positionAt(point));
}

void ResponseView::showOffset(qsizetype offset) {
    if (!characterRect(offset).isEmpty()) {
        return;
    }
    const Position position = positionOf(offset);
    const LineLayout layout = layOut(position.line);
    m_top = {position.line, layout.rowStart(layout.rowOf(position.column))};
    m_followEnd = false; // until the top reaches the end's
    m_shownValid = false;
    updateScrollBar();
    viewport()->update();
}

void ResponseView::trim() {
    if (characterCount() <= kLimit) {
        return;
    }
    while (m_lineStart.size() > 1 && characterCount() - lineLength(firstLine()) - 1 >= kKept) {
        keepToldText(firstLine());
        m_droppedCharacters += lineLength(firstLine()) + 1;
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
    m_top = std::max(m_top, first);
}

void ResponseView::clear() {
    const qint64 told = m_toldTo - m_droppedCharacters;
    if (told > 0 && QAccessible::isActive()) {
        m_toldDropped += textBetween(0, told);
    }
    m_droppedCharacters += characterCount();
    m_dropped += qint64(m_lineStart.size());
    m_lineStart = {0};
    m_bytes.clear();
    m_anchor = m_cursor = m_top = {firstLine(), 0};
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
    const End& end = this->end();
    if (!m_followEnd && m_top >= end.top) {
        m_followEnd = true;
        m_shownValid = false;
    }
    layOutShownLines();
    QScrollBar* bar = verticalScrollBar();
    const int pageStep = rowsPerPage() * kStepsPerLine;
    // Following a stream, the thumb moves a pixel only now and then: the bar is drawn anew
    // only then, a few steps short of the end meanwhile.
    if (m_followEnd && bar->value() == bar->maximum() && bar->pageStep() == pageStep &&
        thumbAtEnd(end.value) == thumbAtEnd(bar->maximum())) {
        return;
    }
    const QSignalBlocker quiet(bar);
    bar->setRange(0, end.value);
    bar->setPageStep(pageStep);
    bar->setValue(m_followEnd ? end.value : valueOf(m_top, m_shown.front().layout));
}

QRect ResponseView::thumbAtEnd(int maximum) const {
    const QScrollBar* bar = verticalScrollBar();
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Vertical;
    option.maximum = option.sliderPosition = option.sliderValue = maximum;
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        bar);
}

const ResponseView::End& ResponseView::end() {
    if (m_end) {
        return *m_end;
    }
    std::vector<ShownLine> endLines;
    if (m_followEnd) {
        layOutShownLines();
    } else {
        endLines = layOutEnd();
    }
    for (const ShownLine& shown : m_followEnd ? m_shown : endLines) {
        for (int row = 0; row < shown.layout.rowCount(); ++row) {
            if (shown.top + shown.layout.rowTop(row) >= kMargin) {
                const Position top{shown.line, shown.layout.rowStart(row)};
                return m_end.emplace(End{top, valueOf(top, shown.layout)});
            }
        }
    }
    // In a field lower than a row, the last row is the top.
    const LineLayout last = layOut(lastLine());
    const Position top{lastLine(), last.rowStart(last.rowCount() - 1)};
    return m_end.emplace(End{top, valueOf(top, last)});
}

int ResponseView::valueOf(Position top, const LineLayout& layout) const {
    const int rows = layout.rowCount();
    return int(top.line - firstLine()) * kStepsPerLine +
           (layout.rowOf(top.column) * kStepsPerLine + rows - 1) / rows;
}

int ResponseView::rowsPerPage() const {
    return std::max(1, (viewport()->height() - 2 * kMargin) / fontMetrics().height());
}

void ResponseView::scrollByRows(int rows) {
    Position top = m_followEnd ? end().top : m_top;
    LineLayout layout = layOut(top.line);
    int row = layout.rowOf(top.column) + rows;
    while (row < 0 && top.line > firstLine()) {
        layout = layOut(--top.line);
        row += layout.rowCount();
    }
    while (row >= layout.rowCount() && top.line < lastLine()) {
        row -= layout.rowCount();
        layout = layOut(++top.line);
    }
    top.column = layout.rowStart(std::clamp(row, 0, layout.rowCount() - 1));
    m_top = top;
    m_followEnd = false; // until the top reaches the end's
    m_shownValid = false;
    updateScrollBar();
    viewport()->update();
}

void ResponseView::scrollContentsBy(int, int) {
    // The value is a line and a share of its rows; at the maximum the view follows new text.
    const QScrollBar* bar = verticalScrollBar();
    m_followEnd = bar->value() >= bar->maximum();
    if (!m_followEnd) {
        const qint64 line = std::min(firstLine() + bar->value() / kStepsPerLine, lastLine());
        const LineLayout layout = layOut(line);
        const int share = bar->value() % kStepsPerLine;
        m_top = {line, layout.rowStart(share * layout.rowCount() / kStepsPerLine)};
    }
    m_shownValid = false;
    viewport()->update();
}

void ResponseView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    m_shownValid = false;
    m_end.reset();
    updateScrollBar();
}

void ResponseView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_shownValid = false;
        m_end.reset();
        updateScrollBar();
    }
}

LineLayout ResponseView::layOut(qint64 line) {
    if (!m_cells || m_cells->font() != font()) {
        m_cells.emplace(font());
    }
    return LineLayout(lineBytes(line), *m_cells, viewport()->width() - 2 * kMargin);
}

std::vector<ResponseView::ShownLine> ResponseView::layOutEnd() {
    // The newest line at the bottom, older ones above it.
    std::vector<ShownLine> shown;
    int bottom = viewport()->height() - kMargin;
    for (qint64 line = lastLine(); line >= firstLine() && bottom > 0; --line) {
        LineLayout layout = layOut(line);
        bottom -= layout.height();
        shown.push_back({line, bottom, std::move(layout)});
    }
    std::reverse(shown.begin(), shown.end());
    // Less than a page of text starts at the top.
    if (!shown.empty() && shown.front().line == firstLine() && shown.front().top > kMargin) {
        const int shift = shown.front().top - kMargin;
        for (ShownLine& line : shown) {
            line.top -= shift;
        }
    }
    return shown;
}

void ResponseView::layOutShownLines() {
    if (m_shownValid) {
        return;
    }
    if (m_followEnd) {
        m_shown = layOutEnd();
    } else {
        // The top line's rows above the top row stand out of view.
        m_shown.clear();
        int top = kMargin;
        for (qint64 line = m_top.line;
             line <= lastLine() && (m_shown.empty() || top < viewport()->height()); ++line) {
            LineLayout layout = layOut(line);
            if (m_shown.empty()) {
                top -= layout.rowTop(layout.rowOf(m_top.column));
            }
            const int lineHeight = layout.height();
            m_shown.push_back({line, top, std::move(layout)});
            top += lineHeight;
        }
    }
    m_shownValid = true;
}

void ResponseView::paintEvent(QPaintEvent* event) {
    layOutShownLines();
    // A row partly out of view at the top is cut at the margin, not drawn into it.
    const QRect clip = event->rect() & viewport()->rect().adjusted(0, kMargin, 0, 0);
    QPainter painter(viewport());
    painter.setClipRect(clip);
    const Position from = std::min(m_anchor, m_cursor);
    const Position to = std::max(m_anchor, m_cursor);
    for (const ShownLine& shown : m_shown) {
        int start = 0;
        int end = 0;
        if (from != to && shown.line >= from.line && shown.line <= to.line) {
            start = shown.line == from.line ? from.column : 0;
            end = shown.line == to.line ? to.column : lineLength(shown.line) + 1;
        }
        shown.layout.draw(painter, QPointF(kMargin, shown.top), start, end, palette(), clip);
    }
    if (hasFocus()) {
        drawFocusFrame(painter, *viewport());
    }
}

void ResponseView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ResponseView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
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
    tellSelection();
}

void ResponseView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) {
        return;
    }
    m_dragPoint = event->position().toPoint();
    // Past the top or the bottom the text scrolls on under the selection.
    if (m_dragPoint.y() >= 0 && m_dragPoint.y() < viewport()->height()) {
        m_autoScroll.stop();
    } else if (!m_autoScroll.isActive()) {
        m_autoScroll.start(kAutoScrollMs, this);
    }
    selectTo(m_dragPoint);
}

void ResponseView::mouseReleaseEvent(QMouseEvent* event) {
    m_autoScroll.stop();
    event->setAccepted(event->button() == Qt::LeftButton);
}

void ResponseView::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_autoScroll.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    // The further past the edge, the faster.
    const int past = m_dragPoint.y() < 0 ? m_dragPoint.y() : m_dragPoint.y() - viewport()->height();
    const int rows = 1 + std::abs(past) / fontMetrics().height();
    scrollByRows(past < 0 ? -rows : rows);
    selectTo(m_dragPoint);
}

void ResponseView::selectTo(QPoint point) {
    point.setY(std::clamp(point.y(), 0, viewport()->height() - 1));
    m_cursor = positionAt(point);
    viewport()->update();
    tellSelection();
}

void ResponseView::wheelEvent(QWheelEvent* event) {
    // A notch goes as many rows as the system's lines; a finer wheel adds up to them.
    m_wheelRest += event->angleDelta().y() * QApplication::wheelScrollLines();
    const int rows = m_wheelRest / kWheelNotch;
    m_wheelRest -= rows * kWheelNotch;
    if (rows != 0) {
        scrollByRows(-rows);
    }
    event->setAccepted(event->angleDelta().y() != 0);
}

bool ResponseView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == verticalScrollBar() && event->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QAbstractScrollArea::eventFilter(watched, event);
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
    tellSelection();
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

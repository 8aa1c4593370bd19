#pragma once

#include "cellfont.h"
#include "linelayout.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QByteArray>
#include <QString>

#include <deque>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

/// The response field: a read-only, multi-line view of received text with a vertical scroll
/// bar. It keeps the received bytes themselves, one byte a character, with where each line
/// begins, and lays out only the lines it shows (LineLayout, control bytes as named boxes),
/// so appending costs the same however long the session has run and however fast text comes,
/// whatever bytes it holds, and a megabyte of text takes about a megabyte of memory.
/// Changes to the text are shown at the next refresh(), which the window calls once per
/// display frame, not once per read.
/// The view scrolls by rows: its top may stand at any row of a line, so that a line taller
/// than the field can be read through with the arrow keys, the wheel and the scroll bar, and
/// a selection dragged past an edge scrolls on. The scroll bar counts kStepsPerLine steps a
/// line, shared among the line's rows, so that its value is known from the top line alone.
/// Text can be selected with the mouse and copied, every byte as the character
/// terminal::ResponseText::shown() makes of it. Beyond kLimit characters the oldest whole
/// lines are dropped, keeping at least the newest kKept.
class ResponseView : public QAbstractScrollArea {
    Q_OBJECT

public:
    static constexpr qsizetype kKept = 1 << 20;  ///< 1 MiB of the newest text always stays
    static constexpr qsizetype kLimit = 2 << 20; ///< trimmed back to about kKept beyond this

    explicit ResponseView(QWidget* parent = nullptr);

    /// Adds received bytes after the last character; "\n" starts a new line.
    void append(QByteArrayView bytes);
    void append(QStringView text); ///< Latin-1 text
    /// Empties the field.
    void clear();
    /// Everything the field holds, lines joined by "\n".
    QString text() const;
    /// Characters held, line breaks counted as one each.
    qsizetype characterCount() const {
        return m_bytes.size() - m_lineStart.front() + qsizetype(m_lineStart.size()) - 1;
    }
    /// Bytes held for the text, dropped lines not yet given back included: bounded as well.
    qsizetype storedBytes() const { return m_bytes.size(); }
    /// Puts the caret after the last character and scrolls to show it.
    void caretToEnd();
    /// Shows what changed since the last refresh.
    void refresh();
    /// True while the view follows the newest text.
    bool atEnd() const;

    /// The selected text, lines joined by "\n".
    QString selectedText() const;
    void selectAll();
    void copy() const;

    // For assistive technology, which reads the field as text() by offsets, without the
    // whole text being made for each question. Offsets are clamped to the text.

    /// The characters from one offset up to another.
    QString textBetween(qsizetype from, qsizetype to) const;
    /// Where the line that holds an offset begins, and where it ends, before its break.
    std::pair<qsizetype, qsizetype> lineAround(qsizetype offset) const;
    /// The end of the selection that moves, where a caret would stand.
    qsizetype cursorOffset() const;
    /// The selection, the lower offset first; both the same where nothing is selected.
    std::pair<qsizetype, qsizetype> selectionOffsets() const;
    /// Selects from anchor to cursor (nothing where they are the same) and shows the cursor.
    void selectOffsets(qsizetype anchor, qsizetype cursor);
    /// Where a character stands on the viewport; empty when it is not in view.
    QRect characterRect(qsizetype offset);
    /// The offset nearest to a point on the viewport.
    qsizetype offsetAt(const QPoint& point);
    /// Scrolls the line of an offset into view, where it is not.
    void showOffset(qsizetype offset);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    /// A place in the text: an absolute line number (lines dropped from the front still
    /// count) and a character within that line.
    struct Position {
        qint64 line = 0;
        int column = 0;
        friend auto operator<=>(const Position&, const Position&) = default;
    };
    struct ShownLine {
        qint64 line = 0;
        int top = 0;
        LineLayout layout;
    };
    /// Where the top stands when the view follows the newest text: the first row wholly shown.
    struct End {
        Position top;
        int value = 0; // of the scroll bar, its maximum
    };
    // Each row of a line of up to this many rows has a step of its own; a line of
    // terminal::ResponseText::kLongestLine boxes takes more only in a field a few boxes wide.
    static constexpr int kStepsPerLine = 512;
    static_assert((kLimit + 2) * kStepsPerLine < std::numeric_limits<int>::max());

    void trim();
    void changed();
    /// Tells assistive technology what the text lost and gained since it was last told.
    void tellTextChanges();
    void tellSelection();
    Position positionOf(qsizetype offset) const;
    qsizetype offsetOf(Position position) const;
    /// The offset at which a kept line (by its index among the kept ones) begins.
    qsizetype lineBegins(std::size_t index) const;
    /// The text of a line that assistive technology was told of, with its break.
    void keepToldText(qint64 line);
    void updateScrollBar();
    QRect thumbAtEnd(int maximum) const;
    const End& end();
    int valueOf(Position top, const LineLayout& layout) const;
    int rowsPerPage() const;
    void scrollByRows(int rows);
    void layOutShownLines();
    std::vector<ShownLine> layOutEnd();
    LineLayout layOut(qint64 line);
    Position positionAt(const QPoint& point);
    void selectTo(QPoint point);
    qint64 firstLine() const { return m_dropped; }
    qint64 lastLine() const { return m_dropped + qint64(m_lineStart.size()) - 1; }
    QByteArrayView lineBytes(qint64 line) const;
    int lineLength(qint64 line) const { return int(lineBytes(line).size()); }
    QString lineText(qint64 line) const;

    QByteArray m_bytes;                 // the lines one after the other, without breaks
    std::deque<quint32> m_lineStart{0}; // where each kept line begins; the last is open
    qint64 m_dropped = 0;               // lines dropped from the front so far
    // Characters dropped from the front so far, line breaks included: an offset plus this
    // counts from the start of the session.
    qint64 m_droppedCharacters = 0;
    // What assistive technology was told the text is, counted from the start of the session,
    // and the part of it dropped since, which it is told went.
    qint64 m_toldFrom = 0;
    qint64 m_toldTo = 0;
    QString m_toldDropped;
    bool m_followEnd = true;
    // While the view does not follow the end: the top row's first character, so that the same
    // text stays at the top when the rows wrap anew.
    Position m_top;
    std::optional<End> m_end; // until the text or the field changes
    Position m_anchor;
    Position m_cursor;
    std::optional<CellFont> m_cells; // measured for the font the shown lines were laid out in
    std::vector<ShownLine> m_shown;
    bool m_shownValid = false;
    bool m_changed = false;
    QBasicTimer m_autoScroll; // while a selection is dragged past an edge
    QPoint m_dragPoint;
    int m_wheelRest = 0; // eighths of a degree turned, times the rows a notch, not yet scrolled
};

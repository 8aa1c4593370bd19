#include "responseaccessible.h"

#include "responseview.h"

#include <QAccessibleWidget>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <optional>
#include <tuple>
#include <vector>

namespace {

// Where the pieces of one kind (characters, words, sentences) begin in a stretch of text, its
// start and end included. Questions are answered from the lines around an offset, so that one
// costs the same however much text the field holds.
using Pieces = std::vector<qsizetype>;

// Past this many characters the lines around an offset are not looked further into.
constexpr qsizetype kLongestLook = 1 << 16;

QTextBoundaryFinder::BoundaryType finderType(QAccessible::TextBoundaryType boundary) {
    switch (boundary) {
    case QAccessible::WordBoundary:
        return QTextBoundaryFinder::Word;
    case QAccessible::SentenceBoundary:
        return QTextBoundaryFinder::Sentence;
    default:
        return QTextBoundaryFinder::Grapheme;
    }
}

class ResponseAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ResponseAccessible(ResponseView* view)
        : QAccessibleWidget(view, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    using QAccessibleWidget::text;

    QString text(int startOffset, int endOffset) const override {
        return view()->textBetween(startOffset, endOffset);
    }
    int characterCount() const override { return int(view()->characterCount()); }

    int cursorPosition() const override { return int(view()->cursorOffset()); }
    void setCursorPosition(int position) override { view()->selectOffsets(position, position); }

    int selectionCount() const override {
        const auto [from, to] = view()->selectionOffsets();
        return from < to ? 1 : 0;
    }
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && selectionCount() == 1) {
            const auto [from, to] = view()->selectionOffsets();
            *startOffset = int(from);
            *endOffset = int(to);
        }
    }
    void addSelection(int startOffset, int endOffset) override {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override {
        if (selectionIndex == 0) {
            const qsizetype cursor = view()->cursorOffset();
            view()->selectOffsets(cursor, cursor);
        }
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override {
        if (selectionIndex == 0) {
            view()->selectOffsets(startOffset, endOffset);
        }
    }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                         int* endOffset) const override {
        return piece(offset, boundary, 0, startOffset, endOffset);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                             int* endOffset) const override {
        return piece(offset, boundary, -1, startOffset, endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                            int* endOffset) const override {
        return piece(offset, boundary, 1, startOffset, endOffset);
    }

    QRect characterRect(int offset) const override {
        const QRect rect = view()->characterRect(offset);
        if (rect.isEmpty()) {
            return {};
        }
        return {view()->viewport()->mapToGlobal(rect.topLeft()), rect.size()};
    }
    int offsetAtPoint(const QPoint& point) const override {
        const QPoint inView = view()->viewport()->mapFromGlobal(point);
        if (!view()->viewport()->rect().contains(inView)) {
            return -1;
        }
        return int(view()->offsetAt(inView));
    }
    void scrollToSubstring(int startIndex, int) override { view()->showOffset(startIndex); }
    QString attributes(int, int* startOffset, int* endOffset) const override {
        // One look throughout: no runs of attributes.
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }

private:
    ResponseView* view() const { return static_cast<ResponseView*>(widget()); }

    // The piece of text of a kind that holds the offset (which 0), or the one before (-1)
    // or after (1) it. Lines are what the device sent, each with its break.
    QString piece(int offset, QAccessible::TextBoundaryType boundary, int which, int* startOffset,
                  int* endOffset) const {
        *startOffset = *endOffset = -1;
        const qsizetype count = view()->characterCount();
        if (offset < 0 || offset > count) {
            return {};
        }
        qsizetype from = 0;
        qsizetype to = count;
        if (boundary == QAccessible::LineBoundary || boundary == QAccessible::ParagraphBoundary) {
            auto line = view()->lineAround(offset);
            if (which < 0) {
                if (line.first == 0) {
                    return {};
                }
                line = view()->lineAround(line.first - 1);
            } else if (which > 0) {
                if (line.second >= count) {
                    return {};
                }
                line = view()->lineAround(line.second + 1);
            }
            from = line.first;
            to = std::min(line.second + 1, count); // with its break
        } else if (boundary != QAccessible::NoBoundary) {
            const auto found = pieceAround(offset, boundary, which);
            if (!found) {
                return {};
            }
            std::tie(from, to) = *found;
        } else if (which != 0) {
            return {};
        }
        *startOffset = int(from);
        *endOffset = int(to);
        return view()->textBetween(from, to);
    }

    // Looked for in the lines around the offset, and further out while the piece runs to the
    // edge of what was looked at (words are apart by any run of lines without one).
    std::optional<std::pair<qsizetype, qsizetype>>
    pieceAround(qsizetype offset, QAccessible::TextBoundaryType boundary, int which) const {
        const qsizetype count = view()->characterCount();
        auto [windowStart, windowEnd] = view()->lineAround(offset);
        for (;;) {
            const bool moreBefore = windowStart > 0;
            const bool moreAfter = windowEnd < count;
            const bool mayGrow = windowEnd - windowStart < kLongestLook;
            if (moreBefore && mayGrow) {
                windowStart = view()->lineAround(windowStart - 1).first;
            }
            if (moreAfter && mayGrow) {
                windowEnd = std::min(view()->lineAround(windowEnd + 1).second + 1, count);
            }
            const Pieces pieces = piecesOf(view()->textBetween(windowStart, windowEnd), boundary);
            // The piece that holds the offset: the last that begins at or before it.
            const qsizetype at = offset - windowStart;
            const auto holds =
                std::upper_bound(pieces.begin(), pieces.end(), at) - pieces.begin() - 1;
            const auto last = qsizetype(pieces.size()) - 1; // the end: no piece begins there
            const auto piece = holds + which;
            if (mayGrow && ((piece <= 0 && moreBefore) || (piece + 1 >= last && moreAfter))) {
                continue;
            }
            if ((holds == last && which >= 0) || piece < 0 || piece >= last) {
                return {}; // at the end of the text no character stands; nothing before the first
            }
            return std::pair{windowStart + pieces[std::size_t(piece)],
                             windowStart + pieces[std::size_t(piece) + 1]};
        }
    }

    static Pieces piecesOf(const QString& text, QAccessible::TextBoundaryType boundary) {
        QTextBoundaryFinder finder(finderType(boundary), text);
        Pieces bounds{0};
        for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) {
            // Between words, a run of anything else is one piece.
            if (boundary != QAccessible::WordBoundary ||
                finder.boundaryReasons() &
                    (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem) ||
                at == text.size()) {
                bounds.push_back(at);
            }
        }
        if (bounds.back() != text.size()) {
            bounds.push_back(text.size());
        }
        return bounds;
    }
};

QAccessibleInterface* responseAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("ResponseView")) {
        if (auto* view = qobject_cast<ResponseView*>(object)) {
            return new ResponseAccessible(view);
        }
    }
    return nullptr;
}

} // namespace

void installResponseAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(responseAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

#pragma once

#include <QtGlobal>

#include <cstddef>
#include <functional>
#include <vector>

namespace plot {

/// One plotted sample: a circle at (x, y) and the line back to (x - step, previousY).
struct PlotStroke {
    qint64 x = 0;
    qint16 y = 0;
    qint16 previousY = 0;
};

/// The scroll bar under the box: the program's own idea of it, mirrored by the widget.
struct ScrollState {
    int minimum = 0;
    int maximum = 1000;
    int pageStep = 999;
    int value = 0;
};

/// The running line chart of method values, in twips, kept as data: the drawing box may grow
/// far wider than any image or 16-bit coordinate, and only the part the frame shows is
/// painted. Everything here is plain arithmetic; the widgets only mirror it.
class PlotModel {
public:
    static constexpr qint64 kStep = 200;        ///< between two points, and per widening
    static constexpr int kCircleRadius = 20;    ///< of the mark on every point
    static constexpr qint64 kBorder = 15;       ///< the box's border on each side
    static constexpr qint64 kFrameWidth = 4575; ///< outer width of the frame around the box
    static constexpr qint64 kBoxHeight = 2775;  ///< outer height of the box
    /// The chart keeps the newest million points (16 MB, eleven days at one sample a second,
    /// fourteen minutes at the full 256000-baud line rate); older points leave the drawing.
    static constexpr std::size_t kMaxStrokes = 1'000'000;

    explicit PlotModel(ScrollState scroll = {});

    /// Plots the method value as the next point. The log is written first, with the x of
    /// the previous point; then the point is drawn, and the box widens and scrolls to its
    /// right end once the new x passes half the inner width.
    void plotSample(double value, const std::function<void(qint64 position)>& logSample);

    /// Places the box in the frame from the scroll value:
    /// left offset = value / maximum x (frame width - inner width).
    void scrollDrawBox();

    /// The user moved the scroll bar; the box follows when the value changed.
    void setScrollValue(int value);

    /// Shrinks the box to the frame, scrolls to the start and erases the drawing. The last
    /// point is kept: the next sample continues from it or wraps.
    void clearDrawBox();

    qint64 outerWidth() const { return m_outerWidth; }
    qint64 innerWidth() const { return m_outerWidth - 2 * kBorder; }
    qint64 innerHeight() const { return kBoxHeight - 2 * kBorder; }
    double leftOffset() const { return m_leftOffset; }
    qint64 plotX() const { return m_plotX; }
    qint16 plotY() const { return m_plotY; }
    const ScrollState& scroll() const { return m_scroll; }
    std::size_t strokeCount() const { return m_strokes.size(); }

    /// Calls visit for every stroke that reaches into [fromX, toX] of the drawing area,
    /// circle and line included.
    void forEachStrokeIn(qint64 fromX, qint64 toX,
                         const std::function<void(const PlotStroke&)>& visit) const;

private:
    void forgetOldest(std::size_t count);

    qint64 m_plotX = 0;
    qint16 m_plotY = 0;
    qint64 m_outerWidth = kFrameWidth;
    double m_leftOffset = 0;
    ScrollState m_scroll;
    std::vector<PlotStroke> m_strokes;
};

} // namespace plot

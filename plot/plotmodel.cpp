#include "plotmodel.h"

#include "numbertext.h"

#include <algorithm>
#include <limits>

namespace plot {

namespace {

// The point's height is a 16-bit value; one far outside the box is drawn at the limit
// rather than wrapped around to the other side.
qint16 clampedHeight(double y) {
    constexpr double low = std::numeric_limits<qint16>::min();
    constexpr double high = std::numeric_limits<qint16>::max();
    return static_cast<qint16>(std::clamp(numbers::roundHalfEven(y), low, high));
}

} // namespace

PlotModel::PlotModel(ScrollState scroll) : m_scroll(scroll) {}

void PlotModel::plotSample(double value, const std::function<void(qint64 position)>& logSample) {
    if (m_plotX > innerWidth()) {
        m_plotX = 0;
    }
    const qint16 previousY = m_plotY;
    if (logSample) {
        logSample(m_plotX);
    }
    m_plotX += kStep;
    m_plotY = clampedHeight(static_cast<double>(innerHeight()) - value);

    if (m_strokes.size() >= kMaxStrokes) {
        forgetOldest(kMaxStrokes / 10);
    }
    m_strokes.push_back({m_plotX, m_plotY, previousY});

    const float halfWidth = static_cast<float>(innerWidth()) / 2.0f;
    if (static_cast<double>(m_plotX) > static_cast<double>(halfWidth)) {
        m_scroll.pageStep = std::max(1, m_scroll.pageStep - 1);
        m_outerWidth += kStep;
        m_scroll.value = m_scroll.maximum;
        scrollDrawBox();
    }
}

void PlotModel::forgetOldest(std::size_t count) {
    count = std::min(count, m_strokes.size());
    m_strokes.erase(m_strokes.begin(), m_strokes.begin() + static_cast<std::ptrdiff_t>(count));
}

void PlotModel::scrollDrawBox() {
    m_leftOffset = static_cast<double>(m_scroll.value) / m_scroll.maximum *
                   static_cast<double>(kFrameWidth - innerWidth());
}

void PlotModel::setScrollValue(int value) {
    value = std::clamp(value, m_scroll.minimum, m_scroll.maximum);
    if (value != m_scroll.value) {
        m_scroll.value = value;
        scrollDrawBox();
    }
}

void PlotModel::clearDrawBox() {
    m_outerWidth = kFrameWidth;
    setScrollValue(m_scroll.minimum);
    m_scroll.pageStep = std::max(1, m_scroll.maximum - 1);
    m_strokes.clear();
}

void PlotModel::forEachStrokeIn(qint64 fromX, qint64 toX,
                                const std::function<void(const PlotStroke&)>& visit) const {
    // The points are in x order: x grows a step at a time, and the chart only wraps to the
    // start after Clear Draw has emptied it. A stroke spans [x - step, x], widened by the circle.
    auto it = std::lower_bound(m_strokes.begin(), m_strokes.end(), fromX - kCircleRadius,
                               [](const PlotStroke& s, qint64 v) { return s.x < v; });
    for (; it != m_strokes.end() && it->x - kStep - kCircleRadius <= toX; ++it) {
        visit(*it);
    }
}

} // namespace plot

#include "testrun.h"

#include "numbertext.h"

namespace color {

float TestRunGenerator::nextDraw() {
    // 24 random bits are exactly a float's precision, so the value never rounds up to 1.
    constexpr float kStep = 1.0f / (1 << 24);
    return static_cast<float>(m_engine() >> 8) * kStep;
}

int TestRunGenerator::readingFromDraw(float draw) {
    const auto k = static_cast<int>(numbers::roundHalfEven(static_cast<double>(draw) * 10000));
    return k % 2000;
}

} // namespace color

#pragma once

#include <random>

namespace color {

/// The random readings of the test run. Never seeded: every start of the program draws the
/// same sequence.
class TestRunGenerator {
public:
    /// A single-precision value in [0, 1).
    float nextDraw();

    /// A reading 0 to 1999 from the next draw.
    int nextReading() { return readingFromDraw(nextDraw()); }

    /// k = draw × 10000 to the nearest whole number (halves to even), then k mod 2000.
    static int readingFromDraw(float draw);

private:
    std::mt19937 m_engine; // its default seed
};

} // namespace color

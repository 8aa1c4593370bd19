#include "sampleevaluation.h"

#include "colorrules.h"

#include <cmath>

namespace color {

std::optional<SampleEvaluation> evaluateSample(double r, double g, double b,
                                               std::optional<Method> method) {
    // The order of the additions is part of the result: it decides the last bits.
    const double mean = ((r + g) + b) / 3;
    const double brightness = (0.30 * r + 0.59 * g) + 0.11 * b;
    // Both are worked out for every method; a sample whose sums leave the double range
    // has no value to show under any of them.
    if (!std::isfinite(mean) || !std::isfinite(brightness)) {
        return std::nullopt;
    }

    SampleEvaluation evaluation;
    if (method == Method::Average) {
        evaluation.value = mean;
    } else if (method == Method::TotalDiff) {
        evaluation.value = (std::abs(r - mean) + std::abs(g - mean)) + std::abs(b - mean);
    } else if (method == Method::Recognize) {
        const double spread =
            (std::abs(r - brightness) + std::abs(g - brightness)) + std::abs(b - brightness);
        evaluation.value = spread;
        if (std::isfinite(spread)) {
            evaluation.caption = colorCaption(r, g, b, spread);
        }
    }
    if (!std::isfinite(evaluation.value)) {
        return std::nullopt;
    }
    return evaluation;
}

} // namespace color

#include "calculatesample.h"

#include <cmath>

namespace tolvek {

std::optional<double> CalculateSample(double r, double g, double b, std::optional<Method> method) {
    // The additions in this order: the last bits of the result depend on it.
    const double mean = ((g + r) + b) / 3.0;
    if (!std::isfinite(mean)) {
        return std::nullopt;
    }
    double value = 0;
    if (method == Method::Average) {
        value = mean;
    } else if (method == Method::TotalDiff) {
        value = (std::abs(g - mean) + std::abs(r - mean)) + std::abs(b - mean);
    }
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace tolvek

#pragma once

#include <cmath>
#include <optional>

namespace tolvek {

/// Tolvek's methods by their index in the option group: "Avg", "TotalDiff", "Option3".
enum class Method { Average = 0, TotalDiff = 1, Option3 = 2 };

/// The method value of red, green and blue: the mean ((G + R) + B) / 3, or the deviation sum
/// (|G - m| + |R - m|) + |B - m|, or 0 for "Option3" or no method. Nothing when the
/// arithmetic leaves the double range: such a sample has no value to show.
/// Inline: it runs after almost every received character.
inline std::optional<double> CalculateSample(double r, double g, double b,
                                             std::optional<Method> method) {
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

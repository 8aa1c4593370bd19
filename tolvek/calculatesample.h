#pragma once

#include <optional>

namespace tolvek {

/// Tolvek's methods by their index in the option group: "Avg", "TotalDiff", "Option3".
enum class Method { Average = 0, TotalDiff = 1, Option3 = 2 };

/// The method value of red, green and blue: the mean ((G + R) + B) / 3, or the deviation sum
/// (|G - m| + |R - m|) + |B - m|, or 0 for "Option3" or no method. Nothing when the
/// arithmetic leaves the double range: such a sample has no value to show.
std::optional<double> CalculateSample(double r, double g, double b, std::optional<Method> method);

} // namespace tolvek

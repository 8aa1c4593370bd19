#pragma once

#include <QString>

#include <optional>

namespace color {

/// The evaluation methods, by their index in the option group.
enum class Method { Average = 0, TotalDiff = 1, Recognize = 2 };

struct SampleEvaluation {
    double value = 0;               ///< the method value
    std::optional<QString> caption; ///< the color name, with Recognize only
};

/// Evaluates one sample (raw red, green and blue readings) by the method, or by none when
/// no option is selected (value 0). Nothing when the mean, the weighted brightness or the
/// method value leaves the double range (1E308 in every field): such a sample cannot be
/// shown, plotted or logged.
std::optional<SampleEvaluation> evaluateSample(double r, double g, double b,
                                               std::optional<Method> method);

} // namespace color

#pragma once

#include <QString>

#include <vector>

namespace color {

/// True when value lies between the two bounds, both included, whichever is the smaller.
bool InRange(double value, double bound1, double bound2);

/// An inclusive range of raw readings.
struct Range {
    double from = 0;
    double to = 0;
};

enum class Channel { Red, Green, Blue };

/// One row of the recognition table.
struct ColorRule {
    enum class Kind {
        Box,        ///< red, green and blue each inside their range
        SpreadBand, ///< the spread inside a range
        Dominant,   ///< the spread above a threshold and one channel strictly above both others
    };
    Kind kind = Kind::Box;
    QString caption;
    Range red, green, blue; ///< Box
    Range spread;           ///< SpreadBand
    double spreadAbove = 0; ///< Dominant
    Channel channel = Channel::Red;
};

/// The 21 rows in the order they are evaluated: the white box, the black band, the three
/// dominant colors, the sixteen grid boxes.
const std::vector<ColorRule>& colorRules();

/// The caption of the last row that holds for the sample with spread s, "Unknown" when none.
QString colorCaption(double r, double g, double b, double spread);

} // namespace color

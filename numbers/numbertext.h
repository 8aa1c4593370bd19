#pragma once

#include <QString>
#include <QStringView>

#include <optional>

/// The number forms every part of the programs shares: which field texts count as numbers,
/// how they convert, how a double is written back, and how it rounds to a whole number.
namespace numbers {

/// The value of a field's whole text taken as one decimal number: blanks around it, an
/// optional sign, digits with an optional point and fraction (at least one digit), an
/// optional exponent. Nothing for any other text, for empty text, and for a value beyond
/// the double range; a value too small for it reads as 0.
std::optional<double> toNumber(QStringView text);

/// True when toNumber() accepts the text.
inline bool isNumericText(QStringView text) {
    return toNumber(text).has_value();
}

/// The shortest decimal with at most 15 significant digits: no trailing zeros, no point for
/// whole numbers, exponent form where plain digits would need more (1E+16, 1E-05).
/// 7/3 reads 2.33333333333333, 500/3 reads 166.666666666667.
QString numberText(double value);

/// The nearest whole number, a half going to the even neighbour (2.5 to 2, 3.5 to 4).
double roundHalfEven(double value);

} // namespace numbers

#include "numbertext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace numbers {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The decimal exponent of the first significant digit of a number that std::from_chars
// found out of range: positive means too large, negative too small.
bool beyondDoubleRange(const std::string& text) {
    long exponent = 0;
    long firstDigit = 0; // exponent of the first non-zero digit, before the written exponent
    bool found = false;
    bool afterPoint = false;
    long integerDigits = 0;
    long fractionZeros = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
        const char c = text[i];
        if (c == '.') {
            afterPoint = true;
        } else if (c >= '0' && c <= '9') {
            if (!afterPoint) {
                if (found || c != '0') {
                    found = true;
                    ++integerDigits;
                }
            } else if (!found) {
                if (c == '0') {
                    ++fractionZeros;
                } else {
                    found = true;
                    firstDigit = -(fractionZeros + 1);
                }
            }
        }
    }
    if (integerDigits > 0) {
        firstDigit = integerDigits - 1;
    }
    if (i < text.size()) {
        // strtol saturates; any exponent beyond a billion is out of every range already.
        const std::string written = text.substr(i + 1);
        exponent =
            std::clamp(std::strtol(written.c_str(), nullptr, 10), -1'000'000'000L, 1'000'000'000L);
    }
    return firstDigit + exponent > 0;
}

// Whole numbers of up to 15 digits, as the sensor sends them, are exact in a double: they
// need no general conversion. The receive path asks for them after every character.
std::optional<double> wholeNumber(QStringView text) {
    if (text.isEmpty() || text.size() > 16) {
        return std::nullopt;
    }
    qsizetype i = 0;
    const bool negative = text[0] == u'-';
    if (negative || text[0] == u'+') {
        ++i;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        if (!isDigit(text[i])) {
            return std::nullopt;
        }
        value = value * 10 + (text[i].unicode() - u'0');
    }
    return negative ? -double(value) : double(value);
}

} // namespace

std::optional<double> toNumber(QStringView text) {
    if (const auto whole = wholeNumber(text)) {
        return whole;
    }
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    // Checked here rather than left to the converter, so that exactly these forms pass.
    std::string ascii;
    ascii.reserve(static_cast<std::size_t>(end - begin));
    qsizetype i = begin;
    bool negative = false;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qsizetype mantissaDigits = 0;
    for (; i < end && isDigit(text[i]); ++i, ++mantissaDigits) {
        ascii += static_cast<char>(text[i].unicode());
    }
    if (i < end && text[i] == u'.') {
        ascii += '.';
        for (++i; i < end && isDigit(text[i]); ++i, ++mantissaDigits) {
            ascii += static_cast<char>(text[i].unicode());
        }
    }
    if (mantissaDigits == 0) {
        return std::nullopt;
    }
    if (i < end && (text[i] == u'e' || text[i] == u'E')) {
        ascii += 'e';
        ++i;
        if (i < end && (text[i] == u'+' || text[i] == u'-')) {
            ascii += static_cast<char>(text[i].unicode());
            ++i;
        }
        qsizetype exponentDigits = 0;
        for (; i < end && isDigit(text[i]); ++i, ++exponentDigits) {
            ascii += static_cast<char>(text[i].unicode());
        }
        if (exponentDigits == 0) {
            return std::nullopt;
        }
    }
    if (i != end) {
        return std::nullopt;
    }

    double value = 0.0;
    const auto [last, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (error == std::errc::result_out_of_range) {
        if (beyondDoubleRange(ascii)) {
            return std::nullopt;
        }
        value = 0.0;
    } else if (error != std::errc() || last != ascii.data() + ascii.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

QString numberText(double value) {
    if (value == 0.0) {
        return QStringLiteral("0"); // also for -0
    }
    // The 15 digits of the very largest doubles round up beyond the double range, and such a
    // text would not read as a number again; they are written as the largest that does.
    constexpr double kLargestWritable = 1.79769313486231e308;
    if (std::abs(value) > kLargestWritable && std::isfinite(value)) {
        return value < 0 ? QStringLiteral("-1.79769313486231E+308")
                         : QStringLiteral("1.79769313486231E+308");
    }
    char buffer[64];
    const auto [last, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    if (error != std::errc()) {
        return QString();
    }
    QString text = QString::fromLatin1(buffer, last - buffer);
    text.replace(u'e', u'E');
    return text;
}

double roundHalfEven(double value) {
    const double nearest = std::round(value); // halves away from zero
    if (std::abs(value - std::trunc(value)) == 0.5) {
        return 2.0 * std::round(value / 2.0);
    }
    return nearest;
}

} // namespace numbers

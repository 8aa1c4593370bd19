// The numeric test and the number form over arbitrary text: a number written back reads as
// the same number to 15 significant digits, and rounding stays whole and close.
#include "fuzzcheck.h"
#include "numbertext.h"

#include <cmath>
#include <cstring>

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data),
                                           qsizetype(std::min<size_t>(size, 256)));
    const auto value = numbers::toNumber(text);
    if (value) {
        check(std::isfinite(*value));
        const QString written = numbers::numberText(*value);
        check(!written.isEmpty() && !written.contains(u' '));
        const auto back = numbers::toNumber(written);
        check(back.has_value());
        check(*back == *value || std::abs(*back - *value) <= 1e-14 * std::abs(*value) ||
              std::abs(*value) < 1e-300);
        const double rounded = numbers::roundHalfEven(*value);
        check(rounded == std::floor(rounded) || std::abs(*value) >= 4.5e15);
        check(std::abs(rounded - *value) <= 0.5);
    }
    if (size >= sizeof(double)) {
        double raw = 0;
        std::memcpy(&raw, data, sizeof raw);
        if (std::isfinite(raw)) {
            const auto back = numbers::toNumber(numbers::numberText(raw));
            check(back && (*back == raw || std::abs(*back - raw) <= 1e-14 * std::abs(raw) ||
                           std::abs(raw) < 1e-300));
        }
    }
    return 0;
}

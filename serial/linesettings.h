#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace serial {

enum class StopBits { One, OneAndHalf, Two };

/// The four line settings that the settings string "9600,N,8,1" carries.
struct LineSettings {
    qint32 speed = 9600;
    char parity = 'N'; ///< one of E, M, N, O, S
    int dataBits = 8;  ///< 4 to 8
    StopBits stopBits = StopBits::One;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

/// Reads a settings string: speed, parity letter (any case), data bits, stop bits.
/// Returns nothing when a field is missing or holds a value no port could take.
std::optional<LineSettings> parseLineSettings(QStringView text);

/// The settings string as the serial control reports it, e.g. "9600,N,8,1".
QString settingsString(const LineSettings& settings);

/// "1", "1.5" or "2".
QString stopBitsText(StopBits stopBits);

/// How long the line takes to carry this many bytes at these settings, in milliseconds (start
/// bit, data bits, parity bit and stop bits of every byte).
qint64 transmitMilliseconds(qint64 bytes, const LineSettings& settings);

/// "Even", "Mark", "None", "Odd" or "Space".
QString parityName(char parity);

} // namespace serial

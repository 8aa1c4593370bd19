#include "linesettings.h"

#include <QList>

#include <algorithm>

namespace serial {

namespace {

// Fast enough for any real UART and far below what an int holds.
constexpr qint32 kHighestSpeed = 10'000'000;

std::optional<qint32> parseSpeed(QStringView text) {
    if (text.isEmpty() || text.size() > 8) {
        return std::nullopt;
    }
    for (const QChar c : text) {
        if (!c.isDigit() || c.unicode() > '9') {
            return std::nullopt;
        }
    }
    const qint32 speed = text.toInt();
    if (speed < 1 || speed > kHighestSpeed) {
        return std::nullopt;
    }
    return speed;
}

std::optional<char> parseParity(QStringView text) {
    if (text.size() != 1) {
        return std::nullopt;
    }
    const char letter = text.front().toUpper().toLatin1();
    switch (letter) {
    case 'E':
    case 'M':
    case 'N':
    case 'O':
    case 'S':
        return letter;
    default:
        return std::nullopt;
    }
}

std::optional<int> parseDataBits(QStringView text) {
    if (text.size() != 1 || text.front() < u'4' || text.front() > u'8') {
        return std::nullopt;
    }
    return text.front().unicode() - u'0';
}

std::optional<StopBits> parseStopBits(QStringView text) {
    if (text == u"1") {
        return StopBits::One;
    }
    if (text == u"1.5") {
        return StopBits::OneAndHalf;
    }
    if (text == u"2") {
        return StopBits::Two;
    }
    return std::nullopt;
}

} // namespace

std::optional<LineSettings> parseLineSettings(QStringView text) {
    const QList<QStringView> fields = text.split(u',');
    if (fields.size() != 4) {
        return std::nullopt;
    }
    const auto speed = parseSpeed(fields[0]);
    const auto parity = parseParity(fields[1]);
    const auto dataBits = parseDataBits(fields[2]);
    const auto stopBits = parseStopBits(fields[3]);
    if (!speed || !parity || !dataBits || !stopBits) {
        return std::nullopt;
    }
    return LineSettings{*speed, *parity, *dataBits, *stopBits};
}

QString stopBitsText(StopBits stopBits) {
    switch (stopBits) {
    case StopBits::One:
        return QStringLiteral("1");
    case StopBits::OneAndHalf:
        return QStringLiteral("1.5");
    case StopBits::Two:
        return QStringLiteral("2");
    }
    return {};
}

qint64 transmitMilliseconds(qint64 bytes, const LineSettings& settings) {
    // In half bits, so that 1.5 stop bits count exactly.
    const qint64 stopHalves = settings.stopBits == StopBits::One          ? 2
                              : settings.stopBits == StopBits::OneAndHalf ? 3
                                                                          : 4;
    const qint64 halves =
        2 * (1 + settings.dataBits + (settings.parity == 'N' ? 0 : 1)) + stopHalves;
    const qint64 speed = std::max<qint64>(settings.speed, 1);
    return (bytes * halves * 1000 + 2 * speed - 1) / (2 * speed);
}

QString settingsString(const LineSettings& settings) {
    return QStringLiteral("%1,%2,%3,%4")
        .arg(settings.speed)
        .arg(QLatin1Char(settings.parity))
        .arg(settings.dataBits)
        .arg(stopBitsText(settings.stopBits));
}

QString parityName(char parity) {
    switch (parity) {
    case 'E':
        return QStringLiteral("Even");
    case 'M':
        return QStringLiteral("Mark");
    case 'N':
        return QStringLiteral("None");
    case 'O':
        return QStringLiteral("Odd");
    case 'S':
        return QStringLiteral("Space");
    default:
        return QString(QLatin1Char(parity));
    }
}

} // namespace serial

// Reads the port's settings with termios2, which holds the exact line speed also for speeds
// outside the classic Bxxx table. <asm/termbits.h> cannot share a file with <termios.h>.
#include "linecheck.h"

#include <asm/termbits.h>
#include <cmath>
#include <sys/ioctl.h>

namespace serial {

namespace {

// Two ends whose clocks differ by less than this still agree on every bit of a frame.
constexpr double kSpeedTolerance = 0.03;

int dataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

char parityOf(tcflag_t cflag) {
    if (!(cflag & PARENB)) {
        return 'N';
    }
    const bool odd = cflag & PARODD;
    if (cflag & CMSPAR) {
        return odd ? 'M' : 'S';
    }
    return odd ? 'O' : 'E';
}

} // namespace

std::optional<QString> lineSettingsMismatch(PortHandle handle, const LineSettings& wanted) {
    struct termios2 actual {};
    if (::ioctl(static_cast<int>(handle), TCGETS2, &actual) != 0) {
        return std::nullopt;
    }
    const double speed = actual.c_ospeed;
    if (std::abs(speed - wanted.speed) > kSpeedTolerance * wanted.speed) {
        return QStringLiteral("The port cannot run at %1 baud (the driver set %2 baud).")
            .arg(wanted.speed)
            .arg(actual.c_ospeed);
    }
    if (dataBitsOf(actual.c_cflag) != wanted.dataBits) {
        return QStringLiteral("The port cannot use %1 data bits.").arg(wanted.dataBits);
    }
    if (parityOf(actual.c_cflag) != wanted.parity) {
        return QStringLiteral("The port cannot use %1 parity.").arg(parityName(wanted.parity));
    }
    const bool twoStopBits = actual.c_cflag & CSTOPB;
    if (twoStopBits != (wanted.stopBits == StopBits::Two)) {
        return QStringLiteral("The port cannot use %1 stop bits.")
            .arg(stopBitsText(wanted.stopBits));
    }
    return std::nullopt;
}

} // namespace serial

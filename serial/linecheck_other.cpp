// Platforms without a way to read the settings back trust what Qt Serial Port reports.
#include "linecheck.h"

namespace serial {

std::optional<QString> lineSettingsMismatch(PortHandle, const LineSettings&) {
    return std::nullopt;
}

} // namespace serial

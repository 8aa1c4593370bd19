#pragma once

#include "linesettings.h"

#include <QString>

#include <optional>

namespace serial {

/// Drivers may take a setting they cannot do and quietly run with another one (a UART that
/// cannot reach a speed runs at its nearest one). This reads back what the open port really
/// uses and describes the first setting that differs from what was asked for. Nothing when
/// they agree, or where the platform cannot tell.
std::optional<QString> lineSettingsMismatch(qintptr handle, const LineSettings& wanted);

} // namespace serial

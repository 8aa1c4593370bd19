#pragma once

#include "linesettings.h"

#include <QSerialPort>
#include <QString>

#include <optional>
#include <utility>

namespace serial {

/// What QSerialPort::handle() gives: a descriptor on Unix, a HANDLE on Windows.
using PortHandle = decltype(std::declval<QSerialPort&>().handle());

/// Drivers may take a setting they cannot do and quietly run with another one (a UART that
/// cannot reach a speed runs at its nearest one). This reads back what the open port really
/// uses and describes the first setting that differs from what was asked for. Nothing when
/// they agree, or where the platform cannot tell.
std::optional<QString> lineSettingsMismatch(PortHandle handle, const LineSettings& wanted);

} // namespace serial

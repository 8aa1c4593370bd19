#pragma once

#include <QString>

#include <functional>

namespace serial {

/// Reads one environment variable; empty when it is not set.
using EnvironmentLookup = std::function<QString(const char* name)>;

/// The device behind port number n (1 to 4). Windows: "COMn". Elsewhere the variable
/// ZEL_COM<n> names the device when it is set (ZEL_COM1=/dev/ttyUSB0), otherwise it is
/// /dev/ttyS<n-1>.
QString portDeviceName(int port, const EnvironmentLookup& environment);

/// The same, looked up in this process's environment.
QString portDeviceName(int port);

} // namespace serial

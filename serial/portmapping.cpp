#include "portmapping.h"

#include <QByteArray>
#include <QtGlobal>

namespace serial {

QString portDeviceName(int port, const EnvironmentLookup& environment) {
#ifdef Q_OS_WIN
    Q_UNUSED(environment);
    return QStringLiteral("COM%1").arg(port);
#else
    const QByteArray variable = "ZEL_COM" + QByteArray::number(port);
    const QString named = environment ? environment(variable.constData()) : QString();
    if (!named.isEmpty()) {
        return named;
    }
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

QString portDeviceName(int port) {
    return portDeviceName(port, [](const char* name) { return qEnvironmentVariable(name); });
}

} // namespace serial

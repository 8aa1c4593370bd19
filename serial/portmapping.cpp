#include "portmapping.h"

#include <QByteArray>
#include <QtGlobal>

#include <algorithm>
#include <tuple>

namespace serial {

namespace {

// "ttyUSB10" as ("ttyUSB", 10), so that names sort as people count: ttyUSB2 before ttyUSB10.
std::tuple<QString, qint64, QString> nameKey(const QString& device) {
    const QString name = device.section(u'/', -1);
    qsizetype digits = name.size();
    while (digits > 0 && name[digits - 1].isDigit()) {
        --digits;
    }
    const QString number = name.mid(digits);
    return {name.left(digits), number.isEmpty() ? -1 : number.left(15).toLongLong(), device};
}

} // namespace

QString processEnvironment(const char* name) {
    return qEnvironmentVariable(name);
}

QList<PortInfo> comPortOrder(QList<PortInfo> present) {
    present.erase(std::remove_if(present.begin(), present.end(),
                                 [](const PortInfo& port) {
                                     return port.builtIn && (!port.hardware || port.systemConsole);
                                 }),
                  present.end());
    std::stable_sort(present.begin(), present.end(), [](const PortInfo& a, const PortInfo& b) {
        if (a.builtIn != b.builtIn) {
            return a.builtIn;
        }
        return nameKey(a.device) < nameKey(b.device);
    });
    return present;
}

PortChoice choosePort(int port, const EnvironmentLookup& environment,
                      const PortInventory& inventory) {
#ifdef Q_OS_WIN
    Q_UNUSED(environment);
    Q_UNUSED(inventory);
    return {QStringLiteral("COM%1").arg(port), PortChoice::Source::Found, std::nullopt};
#else
    const QByteArray variable = "ZEL_COM" + QByteArray::number(port);
    const QString named = environment ? environment(variable.constData()) : QString();
    if (!named.isEmpty()) {
        return {named, PortChoice::Source::Variable, std::nullopt};
    }
    const QList<PortInfo> present = inventory ? inventory() : QList<PortInfo>{};
    const auto known = [&present](const QString& device) -> std::optional<PortInfo> {
        for (const PortInfo& info : present) {
            if (info.device == device) {
                return info;
            }
        }
        return std::nullopt;
    };
    const QList<PortInfo> ordered = comPortOrder(present);
    if (port >= 1 && port <= ordered.size()) {
        return {ordered[port - 1].device, PortChoice::Source::Found, ordered[port - 1]};
    }
    const QString fallback = QStringLiteral("/dev/ttyS%1").arg(port - 1);
    return {fallback, PortChoice::Source::Fallback, known(fallback)};
#endif
}

QString comName(int port) {
    return QStringLiteral("Com%1").arg(port);
}

QString portSummary(int port, const PortChoice& choice) {
    QString summary = choice.device;
    QStringList about;
    if (choice.info) {
        if (!choice.info->description.isEmpty()) {
            about << choice.info->description;
        }
        if (!choice.info->serialNumber.isEmpty()) {
            about << QStringLiteral("serial %1").arg(choice.info->serialNumber);
        }
        if (choice.info->systemConsole) {
            about << QStringLiteral("the system console");
        } else if (!choice.info->hardware) {
            about << QStringLiteral("no serial hardware behind it");
        }
    }
    switch (choice.source) {
    case PortChoice::Source::Variable:
        about << QStringLiteral("named by ZEL_COM%1").arg(port);
        break;
    case PortChoice::Source::Fallback:
        about << QStringLiteral("no serial port found for this number");
        break;
    case PortChoice::Source::Found:
        break;
    }
    if (!about.isEmpty()) {
        summary += QStringLiteral(": ") + about.join(QStringLiteral("; "));
    }
    return summary;
}

} // namespace serial

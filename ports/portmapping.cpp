#include "portmapping.h"

#include <QByteArray>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtGlobal>

#include <algorithm>

namespace serial {

QString processEnvironment(const char* name) {
    return qEnvironmentVariable(name);
}

PortChoice choosePort(int port, const EnvironmentLookup& environment,
                      const QList<PortInfo>& present, const ComAssignments& numbers) {
    const auto listed = [&present](const QString& device) -> std::optional<PortInfo> {
        for (const PortInfo& info : present) {
            if (info.device == device) {
                return info;
            }
        }
        return std::nullopt;
    };
#ifdef Q_OS_WIN
    Q_UNUSED(environment);
    Q_UNUSED(numbers);
    const QString device = QStringLiteral("COM%1").arg(port);
    const std::optional<PortInfo> info = listed(device);
    return {device, info ? PortChoice::Source::Numbered : PortChoice::Source::Fallback,
            info,   {},
            {},     false};
#else
    const QByteArray variable = "ZEL_COM" + QByteArray::number(port);
    if (const QString named = environment ? environment(variable.constData()) : QString();
        !named.isEmpty()) {
        return {named, PortChoice::Source::Variable, listed(named), {}, {}, false};
    }
    if (port < 1 || port > int(numbers.size())) {
        return {{}, PortChoice::Source::None, {}, {}, {}, false};
    }
    const std::optional<ComAssignment>& owner = numbers[std::size_t(port - 1)];
    if (owner) {
        if (const DeviceSearch search = findDevice(owner->identity, present); search.found) {
            return {
                search.found->device, PortChoice::Source::Numbered, search.found, {}, {}, false};
        }
        return {{}, PortChoice::Source::Absent, {}, owner, {}, false};
    }
    if (port > kDesignedPorts) {
        return {{}, PortChoice::Source::None, {}, {}, {}, false}; // given only to a device
    }
    // A fall-back never leads to a device that is another number's, or cannot be a port.
    const QString fallback = QStringLiteral("/dev/ttyS%1").arg(port - 1);
    const std::optional<PortInfo> info = listed(fallback);
    for (std::size_t n = 0; n < numbers.size(); ++n) {
        if (numbers[n] && findDevice(numbers[n]->identity, present).found == info && info) {
            return {{},
                    PortChoice::Source::None,
                    {},
                    {},
                    QStringLiteral("%1 is %2").arg(fallback, comName(int(n) + 1)),
                    false};
        }
    }
    if (info && !canHaveComNumber(*info)) {
        const QString why = info->systemConsole
                                ? QStringLiteral("%1 carries the system console")
                                : QStringLiteral("%1 has no serial hardware behind it");
        return {{}, PortChoice::Source::None, {}, {}, why.arg(fallback), false};
    }
    return {fallback, PortChoice::Source::Fallback, info, {}, {}, false};
#endif
}

namespace {

// Windows numbers its ports itself.
ComAssignments numbersOf(const QList<PortInfo>& present, const QString& numbersFile) {
#ifdef Q_OS_WIN
    Q_UNUSED(present);
    Q_UNUSED(numbersFile);
    return ComAssignments(kDesignedPorts);
#else
    return rememberComNumbers(numbersFile, present);
#endif
}

} // namespace

QList<NumberedPort> numberedPorts(const EnvironmentLookup& environment,
                                  const QList<PortInfo>& present, const ComAssignments& numbers) {
    QList<NumberedPort> ports;
    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]{0,2})$"));
    for (const PortInfo& port : present) {
        if (const QRegularExpressionMatch com = comName.match(port.device); com.hasMatch()) {
            if (const int n = com.captured(1).toInt(); n <= kHighestPort) {
                ports.append({n, port});
            }
        }
    }
    for (int n = 1; n <= kHighestPort; ++n) {
        const QByteArray variable = "ZEL_COM" + QByteArray::number(n);
        if (const QString named = environment ? environment(variable.constData()) : QString();
            !named.isEmpty()) {
            PortInfo info;
            info.device = named;
            ports.append({n, info});
        } else if (n <= int(numbers.size()) && numbers[std::size_t(n - 1)]) {
            if (const DeviceSearch search =
                    findDevice(numbers[std::size_t(n - 1)]->identity, present);
                search.found) {
                ports.append({n, *search.found});
            }
        }
    }
    std::stable_sort(ports.begin(), ports.end(), [](const NumberedPort& a, const NumberedPort& b) {
        return a.number < b.number;
    });
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const NumberedPort& a, const NumberedPort& b) {
                                return a.number == b.number;
                            }),
                ports.end());
    return ports;
}

PortsNow lookUpPorts(QList<PortInfo> present, const QString& numbersFile) {
    ComAssignments numbers = numbersOf(present, numbersFile);
    return {std::move(present), std::move(numbers)};
}

QList<NumberedPort> PortsNow::numbered() const {
#ifdef Q_OS_WIN
    const EnvironmentLookup environment; // COMn is COMn
#else
    // A device named that is not there is no port present.
    const EnvironmentLookup environment = [](const char* name) {
        const QString named = processEnvironment(name);
        return QFileInfo::exists(named) ? named : QString();
    };
#endif
    return numberedPorts(environment, present, numbers);
}

QList<int> furtherMenuPorts(const QList<NumberedPort>& ports, int chosen) {
    QList<int> further;
    for (const NumberedPort& port : ports) {
        if (port.number > kDesignedPorts) {
            further << port.number;
        }
    }
    if (chosen > kDesignedPorts && !further.contains(chosen)) {
        further << chosen;
        std::sort(further.begin(), further.end());
    }
    return further;
}

QString otherPortsText(const QList<NumberedPort>& ports, int chosen) {
    QStringList others;
    for (const NumberedPort& port : ports) {
        if (port.number == chosen) {
            continue;
        }
        // Windows' own names as they are; elsewhere the number and the device behind it.
        const bool windowsName = port.info.device == QStringLiteral("COM%1").arg(port.number);
        QString name = windowsName ? port.info.device
                                   : comName(port.number) + QStringLiteral(" ") + port.info.device;
        if (!port.info.description.isEmpty()) {
            name += QStringLiteral(" (%1)").arg(port.info.description);
        }
        others << name;
    }
    return others.isEmpty() ? QString()
                            : QStringLiteral("This computer's serial ports: %1.")
                                  .arg(others.join(QStringLiteral(", ")));
}

PortChoice PortsNow::choice(int port) const {
    PortChoice choice = choosePort(port, processEnvironment, present, numbers);
    choice.missing =
        choice.source == PortChoice::Source::Variable && !QFileInfo::exists(choice.device);
    return choice;
}

PortChoice lookUpPort(int port, const QList<PortInfo>& present, const QString& numbersFile) {
    return lookUpPorts(present, numbersFile).choice(port);
}

QString comName(int port) {
    return QStringLiteral("Com%1").arg(port);
}

QString furtherPortCaption(int port, const PortChoice& choice) {
    QString name = choice.info ? choice.info->description : QString();
    if (name.isEmpty()) {
        name = choice.device;
    }
    // A menu takes "&" for the letter after it.
    name.replace(QLatin1Char('&'), QLatin1String("&&"));
    return name.isEmpty() ? QStringLiteral("Com %1").arg(port)
                          : QStringLiteral("Com %1 \u2014 %2").arg(port).arg(name);
}

QString portSummary(int port, const PortChoice& choice) {
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
        if (choice.missing) {
            about << QStringLiteral("does not exist");
        }
        about << QStringLiteral("named by ZEL_COM%1").arg(port);
        break;
    case PortChoice::Source::Numbered:
        break;
    case PortChoice::Source::Absent:
        return QStringLiteral("nothing now: %1 belongs to %2 (%3), which is not plugged in")
            .arg(comName(port),
                 choice.owner->description.isEmpty() ? choice.owner->identity.path
                                                     : choice.owner->description,
                 describeIdentity(choice.owner->identity));
    case PortChoice::Source::Fallback:
        about << QStringLiteral("no serial port found for this number");
        break;
    case PortChoice::Source::None:
        return choice.noFallback.isEmpty()
                   ? QStringLiteral("nothing: no serial port has this number")
                   : QStringLiteral("nothing: no serial port has this number (%1)")
                         .arg(choice.noFallback);
    }
    return about.isEmpty()
               ? choice.device
               : choice.device + QStringLiteral(": ") + about.join(QStringLiteral("; "));
}

} // namespace serial

#include "commandline.h"

#include "comnumbers.h"
#include "portmapping.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>

namespace {

QString portsHelp() {
#ifdef Q_OS_WIN
    return QStringLiteral("Ports: Com 1 to Com 4 in the Settings menu are COM1 to COM4.");
#else
    return QStringLiteral(
               "Ports: Com 1 to Com 4 in the Settings menu stand for, in this order:\n"
               "  - the device named by the environment variable ZEL_COM1 to ZEL_COM4,\n"
               "    for example ZEL_COM1=/dev/ttyUSB0;\n"
               "  - else the device that holds the number: as on Windows, a serial port keeps\n"
               "    the number it got when it was first seen (built-in UARTs first, then USB\n"
               "    and other adapters), by what it is (a USB adapter by its serial number and\n"
               "    interface, or its USB port), whatever it is called now; the numbers are\n"
               "    kept in %1;\n"
               "  - else /dev/ttyS<n-1>, unless another number has it.\n"
               "  --ports shows what each one is now. A device that goes away while connected\n"
               "  is opened again by itself when the same device comes back.")
        .arg(QDir::toNativeSeparators(serial::defaultComNumbersFile()));
#endif
}

QString logHelp(const QString& dataFolder) {
    return QStringLiteral(
               "Log: every plotted sample is appended to app.txt beside the program (%1);\n"
               "where that folder cannot be written, to %2.")
        .arg(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()),
             QDir::toNativeSeparators(QDir(dataFolder).filePath(QStringLiteral("app.txt"))));
}

void printPorts() {
    for (int port = 1; port <= 4; ++port) {
        const serial::PortChoice choice =
            serial::lookUpPort(port, serial::machinePorts, serial::defaultComNumbersFile());
        std::printf("%s  %s\n", qPrintable(serial::comName(port)),
                    qPrintable(serial::portSummary(port, choice)));
    }
}

} // namespace

std::optional<int> runCommandLine(int argc, char* argv[], const ProgramAbout& about) {
    if (argc <= 1) {
        return std::nullopt;
    }
    // Only the console part of Qt: --help and --ports must work without a display.
    const QCoreApplication console(argc, argv);
    QCoreApplication::setApplicationName(about.name);
    QCoreApplication::setApplicationVersion(about.version);

    QCommandLineParser parser;
    QString description = about.summary + QStringLiteral("\n\n") + portsHelp();
    if (about.logs) {
        description +=
            QStringLiteral("\n\n") +
            logHelp(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
    }
    parser.setApplicationDescription(description);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption ports(QStringLiteral("ports"),
                                   QStringLiteral("Print the device each of Com 1 to Com 4 would "
                                                  "open now, and what the system says of it."));
    parser.addOption(ports);
    (void)parser.parse(QCoreApplication::arguments()); // the window system's own are no error

    if (parser.isSet(help)) {
        std::printf("%s", qPrintable(parser.helpText()));
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qPrintable(about.name), qPrintable(about.version));
        return 0;
    }
    if (parser.isSet(ports)) {
        printPorts();
        return 0;
    }
    return std::nullopt;
}

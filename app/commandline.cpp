#include "commandline.h"

#include "comnumbers.h"
#include "portmapping.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QString portsHelp() {
#ifdef Q_OS_WIN
    return QStringLiteral(
        "Ports: Com 1 to Com 4 in the Settings menu are COM1 to COM4; below them it lists\n"
        "every further COM port the system has (a USB adapter is often COM3 to COM20),\n"
        "named as Device Manager names it. --ports lists them all.");
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
               "  When four devices that are plugged in hold Com 1 to Com 4, a further one gets\n"
               "  5, 6, ... (ZEL_COM5 and so on name one), listed below them while present.\n"
               "  --ports shows what each one is now. A device that goes away while connected\n"
               "  is opened again by itself when the same device comes back.")
        .arg(QDir::toNativeSeparators(serial::defaultComNumbersFile()));
#endif
}

QString logHelp(const QString& dataFolder) {
    return QStringLiteral(
               "Log: every plotted sample is appended to app.txt beside the program (%1);\n"
               "where that folder cannot be written, to %2.\n"
               "A second Zel_Connect running at the same time (another sensor) logs to\n"
               "app-2.txt beside it, a third to app-3.txt, and so on; one that cannot make\n"
               "a file of its own writes to no other: its samples wait until it can.")
        .arg(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()),
             QDir::toNativeSeparators(QDir(dataFolder).filePath(QStringLiteral("app.txt"))));
}

// A window program on Windows has no console of its own. Where its standard output leads
// somewhere (redirected to a file or a pipe, or the console of Zel_Connect.com, which started
// it), that is where it prints; else to the console of the command prompt that started it, if
// any. False when there is nowhere to print (started from Explorer, a file dropped on it).
bool printToStartingConsole() {
#ifdef Q_OS_WIN
    const auto leadsSomewhere = [](DWORD which) {
        const HANDLE handle = ::GetStdHandle(which);
        return handle && handle != INVALID_HANDLE_VALUE &&
               ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
    };
    if (leadsSomewhere(STD_OUTPUT_HANDLE) || leadsSomewhere(STD_ERROR_HANDLE)) {
        return true;
    }
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
        return false;
    }
    std::FILE* reopened = nullptr;
    (void)::freopen_s(&reopened, "CONOUT$", "w", stdout);
    (void)::freopen_s(&reopened, "CONOUT$", "w", stderr);
#endif
    return true;
}

// A usage error with nowhere to print it: said in a box, not by ending without a word.
void showUsageBox(const QString& title, const QString& text) {
#ifdef Q_OS_WIN
    ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.utf16()),
                  reinterpret_cast<const wchar_t*>(title.utf16()), MB_OK | MB_ICONWARNING);
#else
    Q_UNUSED(title);
    Q_UNUSED(text);
#endif
}

void printPorts() {
    const QList<serial::PortInfo> present = serial::machinePorts();
    const QString numbersFile = serial::defaultComNumbersFile();
    QList<int> ports = {1, 2, 3, 4};
    ports += serial::furtherMenuPorts(serial::lookUpNumberedPorts(present, numbersFile), 0);
    for (const int port : ports) {
        const serial::PortChoice choice = serial::lookUpPort(port, present, numbersFile);
        std::printf("%s  %s\n", qPrintable(serial::comName(port)),
                    qPrintable(serial::portSummary(port, choice)));
    }
}

// The options QGuiApplication and QApplication take themselves in Qt 6.4 (with one dash or two;
// those of the X11 platform too), and whether a value follows. They are left to Qt, and --help
// does not list them.
struct QtOption {
    const char* name;
    bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},      {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},
    {"qmljsdebugger", true}, {"qwindowgeometry", true},
    {"qwindowicon", true},   {"qwindowtitle", true},
    {"session", true},       {"style", true},
    {"stylesheet", true},    {"reverse", false},
    {"widgetcount", false},  {"testability", false},
    {"display", true},       {"geometry", true},
    {"title", true},         {"icon", true},
    {"name", true},          {"visual", true},
    {"nograb", false},       {"dograb", false},
};

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Displays help on commandline options.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Displays version information.")};
    QCommandLineOption ports{QStringLiteral("ports"),
                             QStringLiteral("Print the device each of Com 1 to Com 4, and "
                                            "each further port present, would open now, and "
                                            "what the system says of it.")};

    Parser() {
        // As Qt reads its own: -reverse is one option, not the letters r, e, v ...
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({help, version, ports});
        for (const QtOption& qt : kQtOptions) {
            QCommandLineOption option(QString::fromLatin1(qt.name), QString(),
                                      qt.takesValue ? QStringLiteral("value") : QString());
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
    }
};

QString helpText(const ProgramAbout& about) {
    Parser p;
    QString description = about.summary + QStringLiteral("\n\n") + portsHelp();
    if (about.logs) {
        description +=
            QStringLiteral("\n\n") +
            logHelp(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
    }
    p.parser.setApplicationDescription(description);
    return p.parser.helpText();
}

} // namespace

CommandLineChoice parseCommandLine(const QStringList& arguments) {
    Parser p;
    if (!p.parser.parse(arguments)) {
        return {CommandLineAction::UsageError, p.parser.errorText()};
    }
    if (const QStringList extra = p.parser.positionalArguments(); !extra.isEmpty()) {
        return {CommandLineAction::UsageError,
                QStringLiteral("Unexpected argument '%1'.").arg(extra.first())};
    }
    if (p.parser.isSet(p.help)) {
        return {CommandLineAction::Help, {}};
    }
    if (p.parser.isSet(p.version)) {
        return {CommandLineAction::Version, {}};
    }
    if (p.parser.isSet(p.ports)) {
        return {CommandLineAction::Ports, {}};
    }
    return {};
}

std::optional<int> runCommandLine(int argc, char* argv[], const ProgramAbout& about) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLineChoice choice = parseCommandLine(arguments);
    if (choice.action == CommandLineAction::OpenWindow) {
        return std::nullopt;
    }
    // Only the console part of Qt: --help and --ports must work without a display.
    const QCoreApplication console(argc, argv);
    const bool canPrint = printToStartingConsole();
    QCoreApplication::setApplicationName(about.name);
    QCoreApplication::setApplicationVersion(about.version);
    switch (choice.action) {
    case CommandLineAction::Help:
        std::printf("%s", qPrintable(helpText(about)));
        return 0;
    case CommandLineAction::Version:
        std::printf("%s %s\n", qPrintable(about.name), qPrintable(about.version));
        return 0;
    case CommandLineAction::Ports:
        printPorts();
        return 0;
    case CommandLineAction::UsageError:
        if (!canPrint) {
            showUsageBox(about.name, choice.error + QStringLiteral("\n\n") + helpText(about));
            return 2;
        }
        std::fprintf(stderr, "%s: %s\n\n%s", qPrintable(about.name), qPrintable(choice.error),
                     qPrintable(helpText(about)));
        return 2;
    case CommandLineAction::OpenWindow:
        break;
    }
    return std::nullopt;
}

#include "commandline.h"

#include "comnumbers.h"
#include "consoleoutput.h"
#include "portmapping.h"
#include "wrappedtext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QString portsHelp() {
#ifdef Q_OS_WIN
    return QStringLiteral(
        "Ports: Com 1 to Com 4 in the Settings menu are COM1 to COM4; below them it\n"
        "lists every further COM port the system has (a USB adapter is often\n"
        "COM3 to COM20), named as Device Manager names it. --ports lists them all.");
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
    const serial::PortsNow now =
        serial::lookUpPorts(serial::machinePorts(), serial::defaultComNumbersFile());
    QList<int> ports = {1, 2, 3, 4};
    ports += serial::furtherMenuPorts(now.numbered(), 0);
    for (const int port : ports) {
        printToStandardOutput(serial::comName(port) + QStringLiteral("  ") +
                              serial::portSummary(port, now.choice(port)) + u'\n');
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
    // Qt names the program by the path it was started by (the console companion starts it by
    // its whole path): the usage line names it as it is typed, "Zel_Connect".
    QString name = QFileInfo(QCoreApplication::arguments().value(0)).fileName();
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) {
        name.chop(4);
    }
    QString help = p.parser.helpText();
    help.replace(0, help.indexOf(u'\n'), QStringLiteral("Usage: %1 [options]").arg(name));
    return wrapLines(help);
}

// The arguments as typed. On Windows argv holds them in the ANSI code page, which loses what
// it cannot hold (a Cyrillic folder on a Western system); the wide command line keeps all.
QStringList argumentsOf(int argc, char* argv[]) {
    QStringList arguments;
#ifdef Q_OS_WIN
    int count = 0;
    const auto release = [](wchar_t** words) {
        ::LocalFree(words);
    };
    const std::unique_ptr<wchar_t*, decltype(release)> words(
        ::CommandLineToArgvW(::GetCommandLineW(), &count), release);
    if (words) {
        for (int i = 0; i < count; ++i) {
            arguments << QString::fromWCharArray(words.get()[i]);
        }
        return arguments;
    }
#endif
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

} // namespace

CommandLineChoice parseCommandLine(const QStringList& arguments) {
    Parser p;
    if (!p.parser.parse(arguments)) {
        return {CommandLineAction::UsageError, p.parser.errorText()};
    }
    QStringList extra = p.parser.positionalArguments();
    // How Windows asks a program for help; harmless elsewhere.
    const bool windowsHelp = extra.removeAll(QStringLiteral("/?")) > 0;
    if (!extra.isEmpty()) {
        return {CommandLineAction::UsageError,
                QStringLiteral("Unexpected argument '%1'.").arg(extra.first())};
    }
    if (windowsHelp || p.parser.isSet(p.help)) {
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
    const CommandLineChoice choice = parseCommandLine(argumentsOf(argc, argv));
    if (choice.action == CommandLineAction::OpenWindow) {
        return std::nullopt;
    }
    // Only the console part of Qt: --help and --ports must work without a display.
    const QCoreApplication console(argc, argv);
    const bool canPrint = findConsoleOutput();
    QCoreApplication::setApplicationName(about.name);
    QCoreApplication::setApplicationVersion(about.version);
    switch (choice.action) {
    case CommandLineAction::Help:
        printToStandardOutput(helpText(about));
        return 0;
    case CommandLineAction::Version:
        printToStandardOutput(about.name + u' ' + about.version + u'\n');
        return 0;
    case CommandLineAction::Ports:
        printPorts();
        return 0;
    case CommandLineAction::UsageError:
        if (!canPrint) {
            showUsageBox(about.name, choice.error + QStringLiteral("\n\n") + helpText(about));
            return 2;
        }
        printToStandardError(wrapLines(about.name + QStringLiteral(": ") + choice.error) +
                             QStringLiteral("\n\n") + helpText(about));
        return 2;
    case CommandLineAction::OpenWindow:
        break;
    }
    return std::nullopt;
}

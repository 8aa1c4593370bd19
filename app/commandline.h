#pragma once

#include <QString>
#include <QStringList>

#include <optional>

/// What a program says of itself on its command line.
struct ProgramAbout {
    QString name;      ///< "Zel_Connect"
    QString version;   ///< "0.1.0"
    QString summary;   ///< one paragraph: what the program is
    bool logs = false; ///< it writes the sample log
};

/// What a command line asks of the program.
enum class CommandLineAction { OpenWindow, Help, Version, Ports, UsageError };

struct CommandLineChoice {
    CommandLineAction action = CommandLineAction::OpenWindow;
    QString error; ///< why the command line was refused (UsageError)
};

/// Reads a command line, the program's name first. Needs no application object.
CommandLineChoice parseCommandLine(const QStringList& arguments);

/// The command line of both programs: --help, --version and --ports print and end the program
/// without a window (they need no display); a usage error prints the usage to standard error.
/// Returns the exit code when the program should end, nothing when its window should open.
std::optional<int> runCommandLine(int argc, char* argv[], const ProgramAbout& about);

#pragma once

#include <QString>

#include <optional>

/// What a program says of itself on its command line.
struct ProgramAbout {
    QString name;      ///< "Zel_Connect"
    QString version;   ///< "0.1.0"
    QString summary;   ///< one paragraph: what the program is
    bool logs = false; ///< it writes the sample log
};

/// The command line of both programs: --help, --version and --ports, which print and end the
/// program without a window (they need no display). Returns the exit code when the program
/// should end, nothing when its window should open; arguments meant for the window system
/// (-platform, -style ...) are left to it.
std::optional<int> runCommandLine(int argc, char* argv[], const ProgramAbout& about);

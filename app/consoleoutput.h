#pragma once

#include <QString>

/// Text for the user on standard output or standard error. On Windows a console gets it as
/// wide characters, so that it shows every character its font has whatever its code page; a
/// file or a pipe gets UTF-8 with Windows' line ends. Elsewhere it is UTF-8 as it stands.
void printToStandardOutput(const QString& text);
void printToStandardError(const QString& text);

/// Whether what the program prints reaches anyone. A window program on Windows has no console
/// of its own: where its standard output leads somewhere (a file, a pipe, the console of
/// Zel_Connect.com, which started it), it prints there; else it takes the console of the
/// command prompt that started it, if any. False when there is nowhere to print (started from
/// Explorer, a file dropped on it). Always true elsewhere.
bool findConsoleOutput();

#pragma once

#include "commandline.h"

#include <functional>
#include <memory>

class frmMain;

/// Makes the program's window, once the application object exists.
using WindowFactory = std::function<std::unique_ptr<frmMain>()>;

/// What main() does for either program: the command line, then the window until it is closed.
int runProgram(int argc, char* argv[], const ProgramAbout& about, const WindowFactory& makeWindow);

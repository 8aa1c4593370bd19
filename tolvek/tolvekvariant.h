#pragma once

#include "windowlayout.h"

/// How the window of Tolvek differs from the window of Zel_Connect.
WindowDifferences tolvekDifferences();

/// The window of Tolvek.
WindowVariant tolvekVariant();

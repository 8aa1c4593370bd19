#pragma once

#include "sampleplot.h"
#include "zelconnectwindow.h"

/// Whether the log's writer has tried everything the window handed it, and its word is back.
inline bool logSettled(ZelConnectWindow& window) {
    const LogWriter* writer = window.samplePlot().logWriter();
    return !writer || writer->idle();
}

#pragma once

#include <QString>

namespace serial {

/// What the window shows of the connection: the three status panels, the caption of the
/// Connect command and whether the Send buttons can be pressed.
struct StatusDisplay {
    QString connection;     ///< panel 1
    QString port;           ///< panel 2
    QString settings;       ///< panel 3
    QString connectCaption; ///< the Connect command names what a click will do
    bool sendEnabled = false;
};

StatusDisplay statusDisplay(bool portOpen, int commPort, const QString& settings);

/// The prompt of the box that reports a port that cannot be opened:
/// "Com3 is not available." CR LF and the serial service's description.
QString portNotAvailablePrompt(int commPort, const QString& description);

} // namespace serial

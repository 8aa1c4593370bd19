#pragma once

#include "frmmain.h"

class ColorMeasurement;

/// The window of Zel_Connect: the shared window with color recognition, calibration and
/// the test run attached.
class ZelConnectWindow : public frmMain {
    Q_OBJECT

public:
    explicit ZelConnectWindow(QWidget* parent = nullptr);

    ColorMeasurement& colorMeasurement() { return *m_color; }

private:
    ColorMeasurement* m_color = nullptr; // owned as a child
};

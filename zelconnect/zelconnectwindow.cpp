#include "zelconnectwindow.h"

#include "colormeasurement.h"

ZelConnectWindow::ZelConnectWindow(QWidget* parent)
    : frmMain(zelConnectVariant(), {}, parent), m_color(new ColorMeasurement(*this)) {}

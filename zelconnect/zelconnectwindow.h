#pragma once

#include "frmmain.h"

class ColorMeasurement;
class SamplePlot;

/// The window of Zel_Connect: the shared window with color recognition, calibration, the
/// test run, the sample plot and its log attached.
class ZelConnectWindow : public frmMain {
    Q_OBJECT

public:
    /// The log goes to logPath; empty means "app.txt" beside the program.
    explicit ZelConnectWindow(const QString& logPath = {}, QWidget* parent = nullptr);

    ColorMeasurement& colorMeasurement() { return *m_color; }
    SamplePlot& samplePlot() { return *m_plot; }
    bool leavesWorkBehind() const override;

protected:
    /// Log lines still waiting for the file are tried once more, for a few seconds at most;
    /// what is lost is said.
    void closeEvent(QCloseEvent* event) override;
    /// The sample that an "R" ends is evaluated, plotted and logged when all three readings
    /// are numbers, before the new red reading starts.
    void redMarkerReceived(const terminal::SampleFields& fields) override;
    /// The samples of the read go into the log together.
    void receiveEventHandled() override;

private:
    ColorMeasurement* m_color = nullptr; // owned as children
    SamplePlot* m_plot = nullptr;
};

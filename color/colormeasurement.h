#pragma once

#include "testrun.h"

#include <QObject>

#include <functional>
#include <optional>

class frmMain;
struct frmMainControls;

/// Color recognition on the window: evaluates the sample in the reading fields by the
/// selected method, names its color, and drives the calibration button and the test run.
class ColorMeasurement : public QObject {
    Q_OBJECT

public:
    /// Attaches to the window's "cal" and "RndGo" buttons and its timer.
    explicit ColorMeasurement(frmMain& window);

    /// The step that draws and logs the sample once TextCal holds its value.
    void setPlotSample(std::function<void()> plotSample);

    /// The method value of the sample in TextR, TextG and TextB by the selected method;
    /// with "Recognize" the color name goes to lblColor. Nothing, and nothing written, when
    /// a field is not numeric or the arithmetic overflows.
    std::optional<double> RecognizeColor();

    /// What every complete sample goes through: RecognizeColor, the value into TextCal,
    /// then the plot. A sample that cannot be evaluated is skipped as a whole.
    void evaluateSample();

    void cmdCal_Click();
    void cmdGo_Click();
    void Timer1_Timer();

private:
    void timerTicked();

    frmMain& m_window;
    const frmMainControls& m_ui;
    color::TestRunGenerator m_random;
    std::function<void()> m_plotSample;
    bool m_tickWaiting = false;
};

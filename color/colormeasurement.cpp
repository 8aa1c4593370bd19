#include "colormeasurement.h"

#include "frmmain.h"
#include "numbertext.h"
#include "sampleevaluation.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <utility>

namespace {

std::optional<color::Method> selectedMethod(const frmMainControls& ui) {
    // Tested in the order of the options; the group lets only one be selected.
    std::optional<color::Method> method;
    for (int i = 0; i <= 2; ++i) {
        if (ui.functOption[i] && ui.functOption[i]->isChecked()) {
            method = static_cast<color::Method>(i);
        }
    }
    return method;
}

} // namespace

ColorMeasurement::ColorMeasurement(frmMain& window)
    : QObject(&window), m_window(window), m_ui(window.controls()) {
    connect(m_ui.cmdCal, &QPushButton::clicked, this, &ColorMeasurement::cmdCal_Click);
    connect(m_ui.cmdGo, &QPushButton::clicked, this, &ColorMeasurement::cmdGo_Click);
    connect(m_ui.Timer1, &QTimer::timeout, this, &ColorMeasurement::timerTicked);
    connect(
        &m_window, &frmMain::boxClosed, this,
        [this] {
            if (std::exchange(m_tickWaiting, false)) {
                timerTicked();
            }
        },
        Qt::QueuedConnection);
}

void ColorMeasurement::setPlotSample(std::function<void()> plotSample) {
    m_plotSample = std::move(plotSample);
}

std::optional<double> ColorMeasurement::RecognizeColor() {
    using Text = frmMain::SampleText;
    const auto r = numbers::toNumber(m_window.sampleText(Text::Red));
    const auto g = numbers::toNumber(m_window.sampleText(Text::Green));
    const auto b = numbers::toNumber(m_window.sampleText(Text::Blue));
    if (!r || !g || !b) {
        return std::nullopt;
    }
    const auto evaluation = color::evaluateSample(*r, *g, *b, selectedMethod(m_ui));
    if (!evaluation) {
        return std::nullopt;
    }
    if (evaluation->caption) {
        m_window.setSampleText(Text::ColorName, *evaluation->caption);
    }
    return evaluation->value;
}

void ColorMeasurement::evaluateSample() {
    const std::optional<double> value = RecognizeColor();
    if (!value) {
        return;
    }
    m_window.setSampleText(frmMain::SampleText::Result, numbers::numberText(*value));
    if (m_plotSample) {
        m_plotSample();
    }
}

void ColorMeasurement::cmdCal_Click() {
    using Text = frmMain::SampleText;
    if (numbers::isNumericText(m_window.sampleText(Text::Blue)) &&
        numbers::isNumericText(m_window.sampleText(Text::Green)) &&
        numbers::isNumericText(m_window.sampleText(Text::Red))) {
        evaluateSample();
    }
}

void ColorMeasurement::cmdGo_Click() {
    // Starting anew waits a full second before the first sample.
    if (m_ui.Timer1->isActive()) {
        m_ui.Timer1->stop();
    } else {
        m_ui.Timer1->start();
    }
}

void ColorMeasurement::Timer1_Timer() {
    using Text = frmMain::SampleText;
    m_window.setSampleText(Text::Red, QString::number(m_random.nextReading()));
    m_window.setSampleText(Text::Green, QString::number(m_random.nextReading()));
    m_window.setSampleText(Text::Blue, QString::number(m_random.nextReading()));
    evaluateSample();
}

void ColorMeasurement::timerTicked() {
    // A tick that falls due while a box is open runs once the box is closed, never inside
    // the handler that opened it.
    if (m_window.isShowingBox()) {
        m_tickWaiting = true;
        return;
    }
    Timer1_Timer();
}

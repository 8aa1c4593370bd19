#include "tolvekwindow.h"

#include "numbertext.h"
#include "tolvekvariant.h"

#include <QRadioButton>

#include <algorithm>

TolvekWindow::TolvekWindow(QWidget* parent) : frmMain(tolvekVariant(), {}, parent) {}

bool TolvekWindow::Reading::reread(const QString& text) {
    size = text.size();
    value = numbers::toNumber(text);
    digitsOnly =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    return true;
}

std::optional<tolvek::Method> TolvekWindow::selectedMethod() const {
    std::optional<tolvek::Method> method;
    for (int i = 0; i <= 2; ++i) {
        if (controls().functOption[i] && controls().functOption[i]->isChecked()) {
            method = static_cast<tolvek::Method>(i);
        }
    }
    return method;
}

void TolvekWindow::receivedCharacterHandled(const terminal::SampleFields& fields,
                                            unsigned changedFields) {
    // Recalculated after every character; only what a read ends with reaches TextCal, since
    // nothing is painted in between. The first character of a read looks at all three fields:
    // the user may have edited them since the last one.
    using Listener = terminal::CaptureListener;
    if (m_red.size < 0) {
        changedFields = Listener::RedChanged | Listener::GreenChanged | Listener::BlueChanged;
    }
    bool changed = false;
    if (changedFields & Listener::RedChanged) {
        changed |= m_red.update(fields.red);
    }
    if (changedFields & Listener::GreenChanged) {
        changed |= m_green.update(fields.green);
    }
    if (changedFields & Listener::BlueChanged) {
        changed |= m_blue.update(fields.blue);
    }
    if (!m_red.value || !m_green.value || !m_blue.value || sampleSpansClose()) {
        return;
    }
    if (!changed && m_value) {
        // The same readings with the same method give the same value again.
        if (m_recording) {
            m_recorded << *m_value;
        }
        return;
    }
    if (!m_methodKnown) {
        m_method = selectedMethod();
        m_methodKnown = true;
    }
    const auto value =
        tolvek::CalculateSample(*m_red.value, *m_green.value, *m_blue.value, m_method);
    if (!value) {
        return; // an overflowing sum leaves TextCal as it was
    }
    m_value = value;
    if (m_recording) {
        m_recorded << *value;
    }
}

void TolvekWindow::receiveEventHandled() {
    // Between reads the user may edit the fields or choose another method.
    m_methodKnown = false;
    m_red = m_green = m_blue = Reading{};
    if (m_value) {
        setSampleText(SampleText::Result, numbers::numberText(*std::exchange(m_value, {})));
    }
}

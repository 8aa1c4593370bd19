#pragma once

#include "calculatesample.h"
#include "frmmain.h"

/// The window of Tolvek: the shared window, with the method value recalculated after every
/// received character while all three readings are numbers.
class TolvekWindow : public frmMain {
    Q_OBJECT

public:
    explicit TolvekWindow(QWidget* parent = nullptr);

    /// Every value the calculation took, in order, since the last call; for looking at the
    /// per-character results, which the field shows only at the end of each read.
    void recordValues(bool on) { m_recording = on; }
    QList<double> takeRecordedValues() { return std::exchange(m_recorded, {}); }

protected:
    void receivedCharacterHandled(const terminal::SampleFields& fields, unsigned changed) override;
    void receiveEventHandled() override;

private:
    /// A reading field's text as a number, worked out again only when the text changed.
    struct Reading {
        qsizetype size = -1; // the capture only appends or empties: a new size is a new text
        std::optional<double> value;
        bool digitsOnly = false; // then one more digit is value * 10 + digit, no parsing
        /// True when the text changed since the last call. Inline, for the common case of
        /// one more digit.
        bool update(const QString& text) {
            if (text.size() == size) {
                return false;
            }
            if (digitsOnly && text.size() == size + 1 && size < 15) {
                const char16_t digit = text.back().unicode();
                if (digit >= u'0' && digit <= u'9') {
                    value = (size == 0 ? 0.0 : *value) * 10 + (digit - u'0');
                    size = text.size();
                    return true;
                }
            }
            return reread(text);
        }
        bool reread(const QString& text);
    };

    std::optional<tolvek::Method> selectedMethod() const;

    Reading m_red;
    Reading m_green;
    Reading m_blue;
    std::optional<tolvek::Method> m_method;
    bool m_methodKnown = false;    // read once per event; the user cannot change it meanwhile
    std::optional<double> m_value; // the newest value of this event
    bool m_recording = false;
    QList<double> m_recorded;
};

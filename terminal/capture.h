#pragma once

#include <QByteArrayView>
#include <QString>

/// The receiving side of the terminal: readings picked out of the device's text.
namespace terminal {

/// The texts of the three reading fields.
struct SampleFields {
    QString red;
    QString green;
    QString blue;

    friend bool operator==(const SampleFields&, const SampleFields&) = default;
};

/// Where the program looks at the sample while text is captured.
class CaptureListener {
public:
    virtual ~CaptureListener() = default;
    /// An "R" arrived; the fields still hold the previous sample, red not yet emptied.
    virtual void redMarker(const SampleFields& fields) = 0;
    /// Which fields a character changed.
    enum Changed : unsigned { RedChanged = 1, GreenChanged = 2, BlueChanged = 4 };

    /// A character other than a line break has been handled completely; changed tells which
    /// fields it emptied or added to.
    virtual void characterHandled(const SampleFields& fields, unsigned changed) = 0;
};

/// Each upper-case R, G or B empties its field; after one separator the next four
/// characters go into it. Line feeds and carriage returns do not count. A character may go
/// into more than one field.
///
/// The three counters live as long as the machine, not one read of the port: a reading whose
/// bytes the driver happens to deliver in two reads is captured whole, so the result does not
/// depend on how the stream was split.
class CaptureMachine {
public:
    /// Value a marker gives its counter; a field takes a character while its counter is 1 to 4.
    static constexpr qint16 kCounterStart = 6;

    /// Takes received bytes; each is one character (Latin-1).
    void feed(QByteArrayView bytes, SampleFields& fields, CaptureListener& listener);

    /// The port was closed: what arrives next is a new stream. A reading still being captured
    /// is emptied, since its remaining characters will never come; finished readings stay.
    void endStream(SampleFields& fields);

    /// True when the fields hold a sample the sensor never measured because of a close:
    /// readings from both sides of it, or a sample the close cut short together with an older
    /// reading (a field whose marker had not come again since the last "R"). Three readings
    /// all captured before the close, since that "R", are still one sample.
    bool sampleSpansClose() const {
        return m_beforeClose != 0 && (m_beforeClose != kAllFields || m_cutByClose);
    }

    qint16 countR() const { return m_countR; }
    qint16 countG() const { return m_countG; }
    qint16 countB() const { return m_countB; }

private:
    // Held at 0 rather than falling further: below 1 a counter captures nothing either way,
    // and a long stream without markers cannot overflow it.
    qint16 m_countR = 0;
    qint16 m_countG = 0;
    qint16 m_countB = 0;
    // The fields (CaptureListener::Changed bits) whose reading came before the last close.
    static constexpr unsigned kAllFields = 7;
    unsigned m_beforeClose = 0;
    // The fields whose marker came since the last "R" (that "R" included).
    unsigned m_sinceRed = 0;
    // The sample at the last close was not whole; stays so until every field is captured anew.
    bool m_cutByClose = false;
};

} // namespace terminal

#include "capture.h"

namespace terminal {

namespace {

bool capturing(qint16 count) {
    return count >= 1 && count <= 4;
}

void countDown(qint16& count) {
    if (count > 0) {
        --count;
    }
}

} // namespace

void CaptureMachine::feed(QByteArrayView bytes, SampleFields& fields, CaptureListener& listener) {
    for (const char byte : bytes) {
        const QChar c = QLatin1Char(byte);
        if (c == u'\n' || c == u'\r') {
            continue;
        }
        // Emptied by truncating, not clearing: the field keeps its buffer for the next
        // reading, which saves an allocation for every marker of a fast stream.
        unsigned changed = 0;
        if (c == u'R') {
            listener.redMarker(fields);
            m_beforeClose &= ~unsigned(CaptureListener::RedChanged);
            m_sinceRed = CaptureListener::RedChanged;
            m_countR = kCounterStart;
            changed |= fields.red.isEmpty() ? 0u : unsigned(CaptureListener::RedChanged);
            fields.red.truncate(0);
        } else if (c == u'G') {
            m_beforeClose &= ~unsigned(CaptureListener::GreenChanged);
            m_sinceRed |= CaptureListener::GreenChanged;
            m_countG = kCounterStart;
            changed |= fields.green.isEmpty() ? 0u : unsigned(CaptureListener::GreenChanged);
            fields.green.truncate(0);
        } else if (c == u'B') {
            m_beforeClose &= ~unsigned(CaptureListener::BlueChanged);
            m_sinceRed |= CaptureListener::BlueChanged;
            m_countB = kCounterStart;
            changed |= fields.blue.isEmpty() ? 0u : unsigned(CaptureListener::BlueChanged);
            fields.blue.truncate(0);
        }
        if (capturing(m_countR)) {
            fields.red.append(c);
            changed |= CaptureListener::RedChanged;
        }
        if (capturing(m_countG)) {
            fields.green.append(c);
            changed |= CaptureListener::GreenChanged;
        }
        if (capturing(m_countB)) {
            fields.blue.append(c);
            changed |= CaptureListener::BlueChanged;
        }
        countDown(m_countR);
        countDown(m_countG);
        countDown(m_countB);
        listener.characterHandled(fields, changed);
    }
}

void CaptureMachine::endStream(SampleFields& fields) {
    // A counter above 0 means a marker whose four characters have not all come.
    if (m_countR > 0) {
        fields.red.truncate(0);
    }
    if (m_countG > 0) {
        fields.green.truncate(0);
    }
    if (m_countB > 0) {
        fields.blue.truncate(0);
    }
    m_countR = m_countG = m_countB = 0;
    // A field whose marker has not come since the last "R" holds the reading of an older
    // sample: the close cut the newer one short before it.
    m_cutByClose = sampleSpansClose() || m_sinceRed != kAllFields;
    m_beforeClose = kAllFields;
}

} // namespace terminal

#include "responsetext.h"

namespace terminal {

QByteArray ResponseText::lines(QByteArrayView received) {
    // Written straight into a buffer of the largest size it can take: this runs for every
    // byte the device sends.
    QByteArray text(received.size() + received.size() / kLongestLine + 1, Qt::Uninitialized);
    char* out = text.data();
    for (const char c : received) {
        if (c == '\n') {
            if (!m_afterCarriageReturn) {
                *out++ = '\n';
            }
            m_afterCarriageReturn = false;
            m_lineLength = 0;
            continue;
        }
        m_afterCarriageReturn = false;
        if (c == '\r') {
            *out++ = '\n';
            m_afterCarriageReturn = true;
            m_lineLength = 0;
            continue;
        }
        if (m_lineLength == kLongestLine) {
            *out++ = '\n';
            m_lineLength = 0;
        }
        *out++ = c;
        ++m_lineLength;
    }
    text.truncate(out - text.constData());
    return text;
}

QString ResponseText::shown(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        *out++ = shown(static_cast<uchar>(c));
    }
    return text;
}

QString ResponseText::render(QStringView received) {
    QByteArray bytes(received.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < received.size(); ++i) {
        bytes[i] = static_cast<char>(received[i].unicode());
    }
    return shown(lines(bytes));
}

void ResponseText::reset() {
    m_afterCarriageReturn = false;
    m_lineLength = 0;
}

} // namespace terminal

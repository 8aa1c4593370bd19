#include "responsetext.h"

namespace terminal {

namespace {

QChar shown(char16_t code) {
    if (code < 0x20) {
        return QChar(static_cast<char16_t>(0x2400 + code)); // control pictures
    }
    if (code == 0x7F) {
        return QChar(static_cast<char16_t>(0x2421));
    }
    if (code >= 0x80 && code <= 0x9F) {
        return QChar(QChar::ReplacementCharacter);
    }
    return QChar(code);
}

} // namespace

QString ResponseText::render(QStringView received) {
    // Written straight into a buffer of the largest size it can take: this runs for every
    // byte the device sends.
    QString text(received.size() + received.size() / kLongestLine + 1, Qt::Uninitialized);
    QChar* out = text.data();
    for (const QChar c : received) {
        const char16_t code = c.unicode();
        if (code == u'\n') {
            if (!m_afterCarriageReturn) {
                *out++ = u'\n';
            }
            m_afterCarriageReturn = false;
            m_lineLength = 0;
            continue;
        }
        m_afterCarriageReturn = false;
        if (code == u'\r') {
            *out++ = u'\n';
            m_afterCarriageReturn = true;
            m_lineLength = 0;
            continue;
        }
        if (m_lineLength == kLongestLine) {
            *out++ = u'\n';
            m_lineLength = 0;
        }
        *out++ = (code >= 0x20 && code < 0x7F) || code == u'\t' ? c : shown(code);
        ++m_lineLength;
    }
    text.truncate(out - text.constData());
    return text;
}

void ResponseText::reset() {
    m_afterCarriageReturn = false;
    m_lineLength = 0;
}

} // namespace terminal

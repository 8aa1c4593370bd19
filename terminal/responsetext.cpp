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

QLatin1StringView ResponseText::boxedName(uchar byte) {
    static constexpr const char* kControlNames[32] = {
        "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
        "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
        "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    static constexpr const char* kC1Names[32] = {"80", "81", "82", "83", "84", "85", "86", "87",
                                                 "88", "89", "8A", "8B", "8C", "8D", "8E", "8F",
                                                 "90", "91", "92", "93", "94", "95", "96", "97",
                                                 "98", "99", "9A", "9B", "9C", "9D", "9E", "9F"};
    if (byte == '\t') {
        return {};
    }
    if (byte < 0x20) {
        return QLatin1StringView(kControlNames[byte]);
    }
    if (byte == 0x7F) {
        return QLatin1StringView("DEL");
    }
    if (byte >= 0x80 && byte <= 0x9F) {
        return QLatin1StringView(kC1Names[byte - 0x80]);
    }
    if (byte == 0xA0) {
        return QLatin1StringView("NBSP");
    }
    if (byte == 0xAD) {
        return QLatin1StringView("SHY");
    }
    return {};
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

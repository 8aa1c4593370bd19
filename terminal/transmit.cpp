#include "transmit.h"

namespace terminal {

qint16 HexChar(QStringView strData) {
    if (strData.isEmpty()) {
        return 0;
    }
    // By character code, as a one-character comparison of strings.
    const QChar c = strData.front();
    if (c >= u'0' && c <= u'9') {
        return static_cast<qint16>(c.unicode() - u'0');
    }
    switch (c.unicode()) {
    case u'a':
    case u'A':
        return 10;
    case u'b':
    case u'B':
        return 11;
    case u'c':
    case u'C':
        return 12;
    case u'd':
    case u'D':
        return 13;
    case u'e':
    case u'E':
        return 14;
    case u'f':
    case u'F':
        return 15;
    default:
        return 0;
    }
}

QString FilterHexChar(QChar c) {
    const QChar upper = c.toUpper();
    if ((upper >= u'0' && upper <= u'9') || (upper >= u'A' && upper <= u'F')) {
        return QString(upper);
    }
    return QString();
}

QString normalizedHexField(QStringView typed) {
    QString field;
    if (typed.size() == 1) {
        field = QStringLiteral("0") + FilterHexChar(typed[0]);
    } else if (typed.size() >= 2) {
        field = FilterHexChar(typed[0]) + FilterHexChar(typed[1]);
    }
    while (!field.isEmpty() && field.size() < 2) {
        field.prepend(u'0');
    }
    return field;
}

QByteArray hexMessage(const QStringList& fields) {
    QByteArray message;
    for (const QString& field : fields) {
        if (field.isEmpty()) {
            continue;
        }
        int value = 0;
        for (const QChar c : QStringView(field).left(2)) {
            value = value * 16 + HexChar(QStringView(&c, 1));
        }
        message.append(static_cast<char>(value));
    }
    return message;
}

QByteArray lineBytes(QStringView text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        bytes.append(c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : '?');
    }
    return bytes;
}

} // namespace terminal

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

/// The sending side of the terminal: hex fields and the text line turned into bytes.
namespace terminal {

/// The value of one hexadecimal digit, 0 to 15; any other text (empty included) reads 0.
qint16 HexChar(QStringView strData);

/// The upper-case character when it is a hexadecimal digit, else the empty string.
QString FilterHexChar(QChar c);

/// What a hex field holds after losing the focus: empty or two upper-case hex digits.
/// "7" gives "07", "5F3C" gives "5F", "x7" gives "07", "xy" gives "".
QString normalizedHexField(QStringView typed);

/// The message of the hex fields, in field order: one byte per non-empty field from its first
/// two characters (or its one character), empty fields skipped.
QByteArray hexMessage(const QStringList& fields);

/// The bytes of a text as the line carries it: one byte per character, codes 0 to 255 as
/// they are; a character beyond 255 (which no byte can carry) goes out as "?".
QByteArray lineBytes(QStringView text);

} // namespace terminal

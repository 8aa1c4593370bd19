#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace terminal {

/// How received bytes show in the response field, in two steps. lines() cuts the bytes into
/// lines: CR LF, a lone CR and a lone LF each end a line (also when the pair is split between
/// two reads), and a line longer than kLongestLine characters continues on a new line, so that
/// no single line grows without bound; the result is the bytes with "\n" where a line ends.
/// shown() then makes every byte one character, the text the field copies, and no two bytes
/// the same one. C0 controls and DEL become their control pictures (NUL as U+2400 and so on,
/// DEL as U+2421): pasted elsewhere, a real NUL or ESC would cut the text or act on it. Every
/// other byte is its own Latin-1 character, the C1 controls 0x80 to 0x9F U+0080 to U+009F,
/// which give the bytes back when saved as Latin-1. A tab stays a tab. On screen the field
/// draws the bytes that have a boxedName() as small named boxes, since few fonts have the
/// control pictures and none draws the C1 controls.
class ResponseText {
public:
    static constexpr int kLongestLine = 2048;

    /// The received bytes cut into lines.
    QByteArray lines(QByteArrayView received);

    /// The character a byte shows as.
    static QChar shown(uchar byte) {
        if (byte >= 0x20 && byte < 0x7F) {
            return QChar(byte);
        }
        if (byte == '\t' || byte == '\n') {
            return QChar(byte);
        }
        if (byte < 0x20) {
            return QChar(char16_t(0x2400 + byte)); // control pictures
        }
        if (byte == 0x7F) {
            return QChar(char16_t(0x2421));
        }
        return QChar(byte);
    }
    static QString shown(QByteArrayView bytes);

    /// The short name a byte is drawn as, in a small box, where a font may have no picture
    /// for it or draws it as nothing: the ASCII names of the control characters (NUL, ESC,
    /// DEL), the C1 controls in hex (85), no-break space and soft hyphen (NBSP, SHY). Empty
    /// for a byte that shows as itself, tab included.
    static QLatin1StringView boxedName(uchar byte);

    /// Both steps: what the received text adds to the field, as it reads.
    QString render(QStringView received);

    /// The field was emptied: nothing carries over.
    void reset();

private:
    bool m_afterCarriageReturn = false;
    int m_lineLength = 0;
};

} // namespace terminal

#pragma once

#include <QString>
#include <QStringView>

namespace terminal {

/// How received bytes show in the response field. Every byte is one visible character
/// (Latin-1), control characters included as their control pictures (NUL as U+2400 and so
/// on, DEL as U+2421, 0x80 to 0x9F as U+FFFD); a tab stays a tab. CR LF, a lone CR and a
/// lone LF each end a line, also when the pair is split between two reads. A line longer
/// than kLongestLine characters continues on a new line, so that no single line grows
/// without bound.
class ResponseText {
public:
    static constexpr int kLongestLine = 2048;

    /// What the received text adds to the field.
    QString render(QStringView received);

    /// The field was emptied: nothing carries over.
    void reset();

private:
    bool m_afterCarriageReturn = false;
    int m_lineLength = 0;
};

} // namespace terminal

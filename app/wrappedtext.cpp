#include "wrappedtext.h"

#include <QStringList>

#include <algorithm>

namespace {

qsizetype leadingSpaces(QStringView line) {
    qsizetype spaces = 0;
    while (spaces < line.size() && line[spaces] == u' ') {
        ++spaces;
    }
    return spaces;
}

QString wrapLine(QStringView line, qsizetype width) {
    // An indent of half the width or more would leave too little room for the words.
    const QString indent(std::min(leadingSpaces(line), width / 2), u' ');
    QString wrapped;
    QString rest = line.toString();
    while (rest.size() > width) {
        const qsizetype lead = leadingSpaces(rest);
        qsizetype end = rest.lastIndexOf(u' ', width);
        while (end > lead && rest[end - 1] == u' ') {
            --end;
        }
        if (end <= lead) { // no space to break at: the word is broken, not a character pair
            end = rest[width - 1].isHighSurrogate() ? width - 1 : width;
        }
        wrapped += QStringView(rest).first(end);
        wrapped += u'\n';
        const QStringView next = QStringView(rest).sliced(end);
        QString continued = indent;
        continued += next.sliced(leadingSpaces(next));
        rest = std::move(continued);
    }
    return wrapped + rest;
}

} // namespace

QString wrapLines(const QString& text, int width) {
    QStringList lines;
    for (const QStringView line : QStringView(text).split(u'\n')) {
        lines << wrapLine(line, std::max(width, 2));
    }
    return lines.join(u'\n');
}

#include "settingsmerge.h"

#include <QStringList>

#include <algorithm>

namespace serial {

namespace {

// Positions are counted from 1, as the menu fragments are read field by field.
// Returns the position of the first "," at or after pos; without one, one past the end of
// the text, and never less than pos itself.
qsizetype fieldEnd(QStringView text, qsizetype pos) {
    const qsizetype found = pos <= text.size() ? text.indexOf(u',', pos - 1) : -1;
    if (found >= 0) {
        return found + 1;
    }
    return std::max(text.size() + 1, pos);
}

QString fieldText(QStringView text, qsizetype pos, qsizetype length) {
    if (pos > text.size()) {
        return {};
    }
    return text.mid(pos - 1, length).toString();
}

} // namespace

QString mergeSettingsFragment(QStringView fragment, QStringView current) {
    QStringList fields;
    qsizetype p = 1;
    qsizetype q = 1;
    for (int k = 0; k < 4; ++k) {
        const qsizetype e = fieldEnd(fragment, p);
        const qsizetype d = fieldEnd(current, q);
        fields << (e == p ? fieldText(current, q, d - q) : fieldText(fragment, p, e - p));
        q = d + 1;
        p = e + 1;
    }
    return fields.join(u',');
}

} // namespace serial

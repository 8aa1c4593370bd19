#pragma once

#include <QString>
#include <QStringView>

namespace serial {

/// Merges a settings fragment such as ",E,," into the current settings string: each
/// non-empty field of the fragment replaces the field at the same place, every other field
/// keeps its current text. Always yields four fields joined by ",".
QString mergeSettingsFragment(QStringView fragment, QStringView current);

} // namespace serial

// The Settings menu's merge over arbitrary fragments and settings strings, and the settings
// string itself: always four fields, and what is accepted reads back the same.
#include "fuzzcheck.h"
#include "linesettings.h"
#include "settingsmerge.h"

#include <QStringList>

#include <fuzzer/FuzzedDataProvider.h>

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string fragmentRaw = provider.ConsumeRandomLengthString(64);
    const std::string currentRaw = provider.ConsumeRemainingBytesAsString();
    const QString fragment = QString::fromUtf8(fragmentRaw.data(), qsizetype(fragmentRaw.size()));
    const QString current = QString::fromUtf8(currentRaw.data(), qsizetype(currentRaw.size()));

    const QString merged = serial::mergeSettingsFragment(fragment, current);
    check(merged.count(u',') == 3);
    // A fragment of four empty fields keeps the first four fields of the current string.
    const QStringList currentFields = current.split(u',');
    const QStringList kept =
        serial::mergeSettingsFragment(QStringLiteral(",,,"), current).split(u',');
    for (int i = 0; i < 4; ++i) {
        check(kept[i] == currentFields.value(i));
    }

    for (const QString& text : {current, merged}) {
        if (const auto parsed = serial::parseLineSettings(text)) {
            const QString shown = serial::settingsString(*parsed);
            const auto again = serial::parseLineSettings(shown);
            check(again && *again == *parsed);
        }
    }
    return 0;
}

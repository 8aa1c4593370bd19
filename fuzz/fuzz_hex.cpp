// The hex fields and the text line over arbitrary text: a tidied field is empty or two
// upper-case hex digits, every non-empty field gives one byte, every character one byte.
#include "fuzzcheck.h"
#include "transmit.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

using fuzz::check;

bool isUpperHex(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    QStringList fields;
    int nonEmpty = 0;
    for (int i = 0; i < 12 && provider.remaining_bytes() > 0; ++i) {
        const std::string raw = provider.ConsumeRandomLengthString(16);
        const QString typed = QString::fromUtf8(raw.data(), qsizetype(raw.size()));
        const QString tidied = terminal::normalizedHexField(typed);
        check(tidied.isEmpty() ||
              (tidied.size() == 2 && isUpperHex(tidied[0]) && isUpperHex(tidied[1])));
        // Tidying again changes nothing.
        check(terminal::normalizedHexField(tidied) == tidied);
        fields << (provider.ConsumeBool() ? typed : tidied);
        nonEmpty += fields.back().isEmpty() ? 0 : 1;
    }
    check(terminal::hexMessage(fields).size() == nonEmpty);

    const std::string rest = provider.ConsumeRemainingBytesAsString();
    const QString line = QString::fromUtf8(rest.data(), qsizetype(rest.size()));
    const QByteArray bytes = terminal::lineBytes(line);
    check(bytes.size() == line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char16_t code = line[i].unicode();
        check(static_cast<unsigned char>(bytes[i]) == (code <= 0xFF ? code : u'?'));
    }
    return 0;
}

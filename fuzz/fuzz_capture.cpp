// The receive path over arbitrary bytes split into arbitrary reads: the capture and the
// response text must not depend on the split, and keep their bounds.
#include "capture.h"
#include "fuzzcheck.h"
#include "responsetext.h"

#include <QList>

#include <fuzzer/FuzzedDataProvider.h>

namespace {

using fuzz::check;

struct Recorder : terminal::CaptureListener {
    QList<terminal::SampleFields> atRed;
    QList<terminal::SampleFields> perChar;
    void redMarker(const terminal::SampleFields& fields) override { atRed << fields; }
    void characterHandled(const terminal::SampleFields& fields, unsigned changed) override {
        // What the machine says it changed is what changed.
        if (!perChar.isEmpty()) {
            const terminal::SampleFields& before = perChar.back();
            check(bool(changed & RedChanged) == (before.red != fields.red));
            check(bool(changed & GreenChanged) == (before.green != fields.green));
            check(bool(changed & BlueChanged) == (before.blue != fields.blue));
        }
        perChar << fields;
    }
};

void checkShown(const QString& shown) {
    int lineLength = 0;
    for (const QChar c : shown) {
        if (c == u'\n') {
            lineLength = 0;
            continue;
        }
        // No C0 control or DEL is left raw but the tab; C1 controls stay themselves, so that
        // a copy gives the bytes back (the field draws them boxed).
        check(c == u'\t' || (c.unicode() >= 0x20 && c.unicode() != 0x7F));
        check(++lineLength <= terminal::ResponseText::kLongestLine);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::vector<uint8_t> splits =
        provider.ConsumeBytes<uint8_t>(provider.ConsumeIntegralInRange<size_t>(0, 64));
    const std::vector<uint8_t> bytes = provider.ConsumeRemainingBytes<uint8_t>();
    const QString stream =
        QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));

    const terminal::SampleFields start{"R", "G", "B"};
    terminal::CaptureMachine whole;
    terminal::SampleFields wholeFields = start;
    Recorder wholeSeen;
    whole.feed(stream.toLatin1(), wholeFields, wholeSeen);
    const QString wholeShown = terminal::ResponseText().render(stream);

    terminal::CaptureMachine split;
    terminal::SampleFields splitFields = start;
    Recorder splitSeen;
    terminal::ResponseText splitText;
    QString splitShown;
    qsizetype at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        const qsizetype length =
            splits.empty() ? stream.size() : 1 + splits[i % splits.size()] % 32;
        const QStringView part = QStringView(stream).mid(at, length);
        split.feed(part.toLatin1(), splitFields, splitSeen);
        splitShown += splitText.render(part);
        at += part.size();
    }

    check(splitFields == wholeFields);
    check(splitSeen.atRed == wholeSeen.atRed);
    check(splitSeen.perChar == wholeSeen.perChar);
    check(splitShown == wholeShown);
    // A marker's field never takes more than the four characters after its separator.
    for (const terminal::SampleFields& fields : wholeSeen.perChar) {
        check(fields.red.size() <= 4 && fields.green.size() <= 4 && fields.blue.size() <= 4);
    }
    check(whole.countR() >= 0 && whole.countR() <= terminal::CaptureMachine::kCounterStart);
    checkShown(wholeShown);
    return 0;
}

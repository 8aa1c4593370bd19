// The terminal's pure logic: hex fields and the text line to bytes, the capture of readings
// however the stream is split into reads and wherever a close cuts it, and how received
// bytes show.
#include "capture.h"
#include "responsetext.h"
#include "transmit.h"

#include <QTest>

using namespace terminal;

namespace {

const SampleFields kDesignTexts{"R", "G", "B"};

// What the program sees while text is captured: the sample at each "R" that may be evaluated
// (three readings of one stream), and the fields after every character.
struct Recorder : CaptureListener {
    const CaptureMachine* machine = nullptr;
    QStringList samples;
    int reds = 0;
    QList<SampleFields> perChar;

    void redMarker(const SampleFields& f) override {
        ++reds;
        if (!machine->sampleSpansClose() && f.red.size() == 4 && f.green.size() == 4 &&
            f.blue.size() == 4) {
            samples << f.red + ' ' + f.green + ' ' + f.blue;
        }
    }
    void characterHandled(const SampleFields& fields, unsigned) override { perChar << fields; }
};

} // namespace

class TerminalTest : public QObject {
    Q_OBJECT

private slots:
    void hexField_data();
    void hexField();
    void lineBytes();
    void capture_data();
    void capture();
    void response();
};

void TerminalTest::hexField_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("tidied");
    QTest::addColumn<QByteArray>("byte"); // of the field as typed, and as tidied
    const auto row = [](const char* name, const QString& typed, const char* tidied, int byte) {
        QTest::newRow(name) << typed << QString(tidied)
                            << (byte < 0 ? QByteArray() : QByteArray(1, char(byte)));
    };
    // clang-format off
    row("nothing", "", "", -1);
    row("7", "7", "07", 0x07);
    row("a", "a", "0A", 0x0a);
    row("g: one invalid", "g", "00", 0x00);
    row("3f", "3f", "3F", 0x3f);
    row("all digits", "90", "90", 0x90);
    row("B C D E", "bc", "BC", 0xbc);
    row("D E F", "DE", "DE", 0xde);
    row("5F3C: two count", "5F3C", "5F", 0x5f);
    row("x7", "x7", "07", 0x07);
    row("7x", "7x", "07", 0x70); // as typed the x reads as 0
    row("xy: both invalid", "xy", "", 0x00);
    row("blank and digit", " 5", "05", 0x05);
    row("colon after 9, slash before 0", ":/", "", 0x00);
    row("non-Latin letter", QString::fromUtf8("\xd0\x90"), "00", 0x00); // Cyrillic A
    // clang-format on
}

void TerminalTest::hexField() {
    QFETCH(QString, typed);
    QFETCH(QString, tidied);
    QFETCH(QByteArray, byte);
    QCOMPARE(normalizedHexField(typed), tidied);
    QCOMPARE(normalizedHexField(tidied), tidied); // tidying again changes nothing
    if (!tidied.isEmpty()) {
        QCOMPARE(hexMessage({tidied}), QByteArray(1, char(tidied.toInt(nullptr, 16))));
    }
    // In a message every non-empty field is one byte, in field order.
    QCOMPARE(hexMessage({"01", "", typed, "", "FF"}), "\x01" + byte + "\xff");
}

void TerminalTest::lineBytes() {
    // Nothing added, a byte a character as it is, "?" beyond 255 (an emoji is two UTF-16 units).
    const QList<std::pair<QString, QByteArray>> cases = {
        {"ABC", "ABC"},
        {QString::fromLatin1("A\0B", 3), QByteArray("A\0B", 3)},
        {QString::fromLatin1("\xe9\xff"), "\xe9\xff"},
        {QString::fromUtf8("5\xe2\x82\xac"), "5?"},
        {QString(QChar(0x100)), "?"},
        {QString::fromUtf8("\xf0\x9f\x98\x80"), "??"}};
    for (const auto& [text, bytes] : cases) {
        QCOMPARE(terminal::lineBytes(text), bytes);
    }
    QCOMPARE(HexChar(u""), 0); // as any text that is no hex digit
}

void TerminalTest::capture_data() {
    QTest::addColumn<QStringList>("events"); // "|" closes the port
    QTest::addColumn<QStringList>("fields"); // red, green, blue after the last event
    QTest::addColumn<QStringList>("samples");
    // Events, fields and samples each as one text, its items parted by "/".
    const auto row = [](const char* name, const char* events, const char* fields,
                        const char* samples) {
        const auto items = [](const char* text) {
            return QString(text).split(u'/', Qt::KeepEmptyParts);
        };
        QTest::newRow(name) << items(events) << items(fields)
                            << QString(samples).split(u'/', Qt::SkipEmptyParts);
    };
    // clang-format off
    row("one line: no sample until the next R", "R=3712 G=3590 B=3880\r\n", "3712/3590/3880", "");
    row("the next R ends the sample, then red starts again",
        "R=3712 G=3590 B=3880\r\n/R=3712 G=3590 B=3880\r\n", "3712/3590/3880", "3712 3590 3880");
    row("line breaks do not count", "R\r\n:0\r1\n23", "0123/G/B", "");
    row("lower-case r is text", "r=0123", "R/G/B", "");
    row("short value takes what follows", "R=12 G=0456", "12 G/0456/B", "");
    row("split across reads", "R/=/01/23", "0123/G/B", "");
    row("G R B", "GRB", "/B/", "");
    row("ERROR holds three markers", "ERROR", "/G/B", "");
    row("one character in two fields", "R=1G=234", "1G=2/234/B", "");
    row("a marker again restarts its field", "R=12R=3456B=1B=2222G=9G=0000", "3456/0000/2222", "");
    row("order G B R, evaluated at the next R", "G:0200B:0300R:0100R", "/0200/0300", "0100 0200 0300");
    // A close ends the stream: no reading continues across it, no sample mixes both sides.
    row("a cut reading is not continued", "R=1000G=1000B=1000R=37/|/90 G=1111 B=2222 R", "/1111/2222",
        "1000 1000 1000");
    row("cut green and blue are emptied too", "R=1000G=B=/|", "1000//", "");
    row("a whole sample before the close is still one", "R=1000G=2000B=3000/|/|/R=4", "4/2000/3000",
        "1000 2000 3000");
    row("readings from both sides are not", "R=1000G=2000/|/B=3000R=", "/2000/3000", "");
    row("both sides, blue last", "R=1000B=2000/|/G=3000R", "/3000/2000", "");
    row("after a fresh sample all is as before", "R=1000G=2000/|/B=3000R=4000G=5000B=6000R",
        "/5000/6000", "4000 5000 6000");
    row("cut before its blue: the older blue is not taken", "R=1000G=2000B=3000R=1111G=2222/|/R",
        "/2222/3000", "1000 2000 3000");
    row("a second close keeps a mixed sample mixed", "R=1000G=2000B=3000/|/G=5555/|/R", "/5555/3000",
        "");
    row("a separator pending at the close", "G=2000B=3000R/|/=1234", "/2000/3000", "");
    row("red cut one character short", "R=123/|/4", "/G/B", "");
    row("green cut one character short", "G=123/|/4", "R//B", "");
    row("blue cut one character short", "B=123/|/4", "R/G/", "");
    // Counters are held at 0: a long stream without markers cannot wrap them round.
    row("long stream without markers", qPrintable(QString(70000, u'x') + "/R=4321"), "4321/G/B", "");
    // clang-format on
}

void TerminalTest::capture() {
    QFETCH(QStringList, events);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, samples);
    CaptureMachine machine;
    Recorder recorder;
    recorder.machine = &machine;
    SampleFields sample = kDesignTexts;
    for (const QString& event : events) {
        if (event == "|") {
            machine.endStream(sample);
        } else {
            machine.feed(event.toLatin1(), sample, recorder);
        }
    }
    QCOMPARE(sample, (SampleFields{fields[0], fields[1], fields[2]}));
    QCOMPARE(recorder.samples, samples);
    const QString all = events.join("").remove('|').remove('\r').remove('\n');
    QCOMPARE(recorder.perChar.size(), all.size());
    QCOMPARE(recorder.reds, all.count(u'R'));
    QVERIFY(machine.countR() >= 0 && machine.countG() >= 0 && machine.countB() >= 0); // held at 0
}

void TerminalTest::response() {
    // The reads, what they show: CR LF one line break (also split between reads), a lone LF
    // or CR one each, LF CR two; controls as pictures, other text as it is.
    const QList<std::pair<QStringList, QString>> cases = {
        {{"R=1\r\nG=2"}, "R=1\nG=2"},
        {{"a\nb\rc"}, "a\nb\nc"},
        {{"a\r", "\nb"}, "a\nb"},
        {{"a\n\rb"}, "a\n\nb"},
        {{"a\r\r\nb"}, "a\n\nb"},
        {{"a\n", "\nb"}, "a\n\nb"},
        {{QString::fromLatin1("\0\x1b\x1f\x7f", 4)},
         QString::fromUtf8("\xe2\x90\x80\xe2\x90\x9b\xe2\x90\x9f\xe2\x90\xa1")},
        {{QString::fromLatin1(" ~\x85\x9f\xa0\xad\xe9\xff\ta")},
         QString::fromLatin1(" ~\x85\x9f\xa0\xad\xe9\xff\ta")}};
    for (const auto& [reads, shown] : cases) {
        ResponseText text;
        QString result;
        for (const QString& read : reads) {
            result += text.render(read);
        }
        QCOMPARE(result, shown);
    }
    // Drawn as named boxes: exactly the bytes no font can be trusted with, each its own name.
    QSet<QString> names;
    for (int byte = 0; byte < 256; ++byte) {
        const QString name(ResponseText::boxedName(uchar(byte)));
        const bool control = byte < 0x20 || (byte >= 0x7f && byte <= 0xa0) || byte == 0xad;
        QCOMPARE(name.isEmpty(), !control || byte == '\t');
        names << name;
    }
    QCOMPARE(names.size(), 67); // 66 names and the empty one
    // A line without breaks continues on a new line after kLongestLine characters, counted
    // from the last break of any kind, and from nothing after the field was emptied.
    constexpr int kLong = ResponseText::kLongestLine;
    const QString longLine(kLong * 2 + 5, u'x');
    ResponseText again;
    QCOMPARE(again.render(u"a\r"), QStringLiteral("a\n"));
    again.reset();
    QCOMPARE(again.render(u"\nb"), QStringLiteral("\nb")); // no CR pending after a reset
    again.reset();
    for (const QString& before : {QString(), QStringLiteral("a\n"), QStringLiteral("a\r")}) {
        const QString rendered = again.render(before + longLine);
        QCOMPARE(rendered.size(), before.size() + longLine.size() + 2);
        QCOMPARE(rendered.indexOf(u'\n', before.size()), before.size() + kLong);
        QCOMPARE(rendered.indexOf(u'\n', before.size() + kLong + 1), before.size() + 2 * kLong + 1);
        again.render(u"\n");
    }
}

QTEST_GUILESS_MAIN(TerminalTest)
#include "tst_terminal.moc"

// The terminal's pure logic: hex fields to bytes, the capture of readings from the device's
// text however it is split into reads, and how the response field shows received bytes.
#include "capture.h"
#include "responsetext.h"
#include "transmit.h"

#include <QRandomGenerator>
#include <QTest>

using namespace terminal;

namespace {

// Records what the program would see while text is captured.
struct Recorder : CaptureListener {
    QList<SampleFields> atRed;   // the sample each "R" ends
    QList<SampleFields> perChar; // after each character
    void redMarker(const SampleFields& fields) override { atRed << fields; }
    void characterHandled(const SampleFields& fields, unsigned changed) override {
        const SampleFields before = perChar.isEmpty() ? last : perChar.back();
        changedRight &= bool(changed & RedChanged) == (before.red != fields.red) &&
                        bool(changed & GreenChanged) == (before.green != fields.green) &&
                        bool(changed & BlueChanged) == (before.blue != fields.blue);
        perChar << fields;
    }
    SampleFields last{"R", "G", "B"}; // what the fields held before the first character
    bool changedRight = true;
};

const SampleFields kDesignTexts{"R", "G", "B"};

} // namespace

class TerminalTest : public QObject {
    Q_OBJECT

private slots:
    void hexField_data();
    void hexField();
    void hexChar_data();
    void hexChar();
    void hexMessage_data();
    void hexMessage();
    void lineBytes_data();
    void lineBytes();

    void capture_data();
    void capture();
    void sampleEndsAtEveryRed();
    void splitReadsGiveTheSameResult();
    void countersStayAtZeroOnLongStreams();
    void closeEndsTheStream_data();
    void closeEndsTheStream();

    void response_data();
    void response();
};

void TerminalTest::hexField_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("normalized");
    QTest::newRow("nothing") << ""
                             << "";
    QTest::newRow("7") << "7"
                       << "07";
    QTest::newRow("a") << "a"
                       << "0A";
    QTest::newRow("g: one invalid") << "g"
                                    << "00";
    QTest::newRow("3f") << "3f"
                        << "3F";
    QTest::newRow("5F3C") << "5F3C"
                          << "5F";
    QTest::newRow("x7") << "x7"
                        << "07";
    QTest::newRow("7x") << "7x"
                        << "07";
    QTest::newRow("xy: both invalid") << "xy"
                                      << "";
    QTest::newRow("xy9: only two count") << "xy9"
                                         << "";
    QTest::newRow("abc") << "abc"
                         << "AB";
    QTest::newRow("blank and digit") << " 5"
                                     << "05";
    QTest::newRow("non-Latin letter") << QString::fromUtf8("\xd0\x90") << "00"; // Cyrillic A
}

void TerminalTest::hexField() {
    QFETCH(QString, typed);
    QFETCH(QString, normalized);
    QCOMPARE(normalizedHexField(typed), normalized);
}

void TerminalTest::hexChar_data() {
    QTest::addColumn<QString>("digit");
    QTest::addColumn<int>("value");
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("9") << "9" << 9;
    QTest::newRow("a") << "a" << 10;
    QTest::newRow("F") << "F" << 15;
    QTest::newRow("f") << "f" << 15;
    QTest::newRow("g") << "g" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("colon, after 9") << ":" << 0;
    QTest::newRow("slash, before 0") << "/" << 0;
}

void TerminalTest::hexChar() {
    QFETCH(QString, digit);
    QFETCH(int, value);
    QCOMPARE(int(HexChar(digit)), value);
}

void TerminalTest::hexMessage_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("bytes");
    QStringList twelveEmpty;
    for (int i = 0; i < 12; ++i) {
        twelveEmpty << "";
    }
    QStringList withGap = twelveEmpty;
    withGap[0] = "01";
    withGap[2] = "FF";
    QTest::newRow("01, empty, FF") << withGap << QByteArray("\x01\xff", 2);
    QTest::newRow("all empty") << twelveEmpty << QByteArray();
    QTest::newRow("00 is a byte") << QStringList{"00", "41"} << QByteArray("\x00\x41", 2);
    QTest::newRow("order of the fields") << QStringList{"", "0D", "", "0A"} << QByteArray("\r\n");
    QTest::newRow("one character, not yet normalized") << QStringList{"a"} << QByteArray("\x0a");
    QTest::newRow("invalid reads as 0") << QStringList{"g"} << QByteArray("\x00", 1);
    QTest::newRow("gh") << QStringList{"gh"} << QByteArray("\x00", 1);
    QTest::newRow("first two only") << QStringList{"5F3C"} << QByteArray("\x5f");
    QTest::newRow("twelve bytes") << QStringList(12, "FF") << QByteArray(12, '\xff');
}

void TerminalTest::hexMessage() {
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, bytes);
    QCOMPARE(terminal::hexMessage(fields), bytes);
}

void TerminalTest::lineBytes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ABC, nothing added") << "ABC" << QByteArray("ABC");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("NUL inside") << QString::fromLatin1("A\0B", 3) << QByteArray("A\0B", 3);
    QTest::newRow("Latin-1 e acute") << QString::fromLatin1("\xe9") << QByteArray("\xe9");
    QTest::newRow("byte 255") << QString(QChar(0xFF)) << QByteArray("\xff");
    QTest::newRow("euro sign beyond 255") << QString::fromUtf8("5\xe2\x82\xac") << QByteArray("5?");
    QTest::newRow("emoji, two UTF-16 units")
        << QString::fromUtf8("\xf0\x9f\x98\x80") << QByteArray("??");
}

void TerminalTest::lineBytes() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(terminal::lineBytes(text), bytes);
}

void TerminalTest::capture_data() {
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("fields"); // red, green, blue after the last event

    QTest::newRow("three readings in one event")
        << QStringList{"R=3712 G=3590 B=3880\r\n"} << QStringList{"3712", "3590", "3880"};
    QTest::newRow("line break between marker and value")
        << QStringList{"R\r\n:0123"} << QStringList{"0123", "G", "B"};
    QTest::newRow("lower-case r is text") << QStringList{"r=0123"} << QStringList{"R", "G", "B"};
    QTest::newRow("short value takes what follows")
        << QStringList{"R=12 G=0456"} << QStringList{"12 G", "0456", "B"};
    QTest::newRow("reading split across reads")
        << QStringList{"R=01", "23"} << QStringList{"0123", "G", "B"};
    QTest::newRow("split inside the separator")
        << QStringList{"R", "=", "0", "123"} << QStringList{"0123", "G", "B"};
    QTest::newRow("G R B") << QStringList{"GRB"} << QStringList{"", "B", ""};
    QTest::newRow("ERROR holds three markers") << QStringList{"ERROR"} << QStringList{"", "G", "B"};
    QTest::newRow("one character in two fields")
        << QStringList{"R=1G=234"} << QStringList{"1G=2", "234", "B"};
    QTest::newRow("marker again restarts its field")
        << QStringList{"R=12R=3456"} << QStringList{"3456", "G", "B"};
    QTest::newRow("order G B R") << QStringList{"G:0200B:0300R:0100"}
                                 << QStringList{"0100", "0200", "0300"};
}

void TerminalTest::capture() {
    QFETCH(QStringList, events);
    QFETCH(QStringList, fields);
    CaptureMachine machine;
    SampleFields sample = kDesignTexts;
    Recorder recorder;
    for (const QString& event : events) {
        machine.feed(event.toLatin1(), sample, recorder);
    }
    QCOMPARE(sample, (SampleFields{fields[0], fields[1], fields[2]}));
}

void TerminalTest::sampleEndsAtEveryRed() {
    CaptureMachine machine;
    SampleFields sample = kDesignTexts;
    Recorder recorder;
    const QString line = "R=3712 G=3590 B=3880\r\n";
    machine.feed(line.toLatin1(), sample, recorder);
    // At the first "R" the red field still held its design text: nothing to evaluate yet.
    QCOMPARE(recorder.atRed, QList<SampleFields>{kDesignTexts});
    machine.feed(line.toLatin1(), sample, recorder);
    QCOMPARE(recorder.atRed.size(), 2);
    QCOMPARE(recorder.atRed[1], (SampleFields{"3712", "3590", "3880"}));
    // Line breaks are not characters of the capture.
    QCOMPARE(recorder.perChar.size(), 2 * (line.size() - 2));
}

void TerminalTest::splitReadsGiveTheSameResult() {
    QRandomGenerator random(20261206);
    const QString alphabet = "RGB=: 0123456789rgbxE\r\n\t";
    for (int round = 0; round < 300; ++round) {
        QString stream;
        const int length = 1 + random.bounded(200);
        for (int i = 0; i < length; ++i) {
            stream += alphabet[random.bounded(alphabet.size())];
        }
        if (round % 3 == 0) {
            stream += "R=3712 G=3590 B=3880\r\nR=0100G=0200B=0300\r\n";
        }

        CaptureMachine whole;
        SampleFields wholeFields = kDesignTexts;
        Recorder wholeSeen;
        whole.feed(stream.toLatin1(), wholeFields, wholeSeen);
        const QString wholeShown = ResponseText().render(stream);

        CaptureMachine split;
        SampleFields splitFields = kDesignTexts;
        Recorder splitSeen;
        ResponseText splitText;
        QString splitShown;
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype size = 1 + random.bounded(8);
            const QStringView part = QStringView(stream).mid(at, size);
            split.feed(part.toLatin1(), splitFields, splitSeen);
            splitShown += splitText.render(part);
            at += size;
        }
        QCOMPARE(splitFields, wholeFields);
        QVERIFY(wholeSeen.changedRight && splitSeen.changedRight);
        QCOMPARE(splitSeen.atRed, wholeSeen.atRed);
        QCOMPARE(splitSeen.perChar, wholeSeen.perChar);
        QCOMPARE(splitShown, wholeShown);
    }
}

void TerminalTest::countersStayAtZeroOnLongStreams() {
    CaptureMachine machine;
    SampleFields sample = kDesignTexts;
    Recorder recorder;
    machine.feed(QByteArray(100000, 'x'), sample, recorder);
    QCOMPARE(machine.countR(), qint16(0));
    machine.feed("R=4321", sample, recorder);
    QCOMPARE(sample.red, QStringLiteral("4321"));
}

void TerminalTest::closeEndsTheStream_data() {
    QTest::addColumn<QStringList>("events"); // "|" closes the port
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QStringList>("samples"); // each "R" that ends a sample from one stream

    QTest::newRow("cut reading is not continued")
        << QStringList{"R=1000G=1000B=1000R=37", "|", "90 G=1111 B=2222 R"}
        << QStringList{"", "1111", "2222"} << QStringList{"1000 1000 1000"};
    QTest::newRow("whole sample before the close is still one")
        << QStringList{"R=1000G=2000B=3000", "|", "R=4"} << QStringList{"4", "2000", "3000"}
        << QStringList{"1000 2000 3000"};
    QTest::newRow("readings from both sides are not")
        << QStringList{"R=1000G=2000", "|", "B=3000R="} << QStringList{"", "2000", "3000"}
        << QStringList{};
    QTest::newRow("after a fresh sample all is as before")
        << QStringList{"R=1000G=2000", "|", "B=3000R=4000G=5000B=6000R"}
        << QStringList{"", "5000", "6000"} << QStringList{"4000 5000 6000"};
    QTest::newRow("separator pending at the close")
        << QStringList{"G=2000B=3000R", "|", "=1234"} << QStringList{"", "2000", "3000"}
        << QStringList{};
    QTest::newRow("two closes") << QStringList{"R=1000G=2000B=3000", "|", "|", "R"}
                                << QStringList{"", "2000", "3000"} << QStringList{"1000 2000 3000"};
}

void TerminalTest::closeEndsTheStream() {
    QFETCH(QStringList, events);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, samples);
    struct OneStream : Recorder {
        const CaptureMachine* machine = nullptr;
        QStringList samples;
        void redMarker(const SampleFields& f) override {
            if (!machine->sampleSpansClose() && f.red.size() == 4) {
                samples << f.red + ' ' + f.green + ' ' + f.blue;
            }
        }
    } recorder;
    CaptureMachine machine;
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
}

void TerminalTest::response_data() {
    QTest::addColumn<QStringList>("reads");
    QTest::addColumn<QString>("shown");
    QTest::newRow("CR LF is one line break") << QStringList{"R=1\r\nG=2"} << "R=1\nG=2";
    QTest::newRow("lone LF") << QStringList{"a\nb"} << "a\nb";
    QTest::newRow("lone CR") << QStringList{"a\rb"} << "a\nb";
    QTest::newRow("CR LF split between reads") << QStringList{"a\r", "\nb"} << "a\nb";
    QTest::newRow("LF CR is two breaks") << QStringList{"a\n\rb"} << "a\n\nb";
    QTest::newRow("CR CR LF") << QStringList{"a\r\r\nb"} << "a\n\nb";
    QTest::newRow("NUL and ESC as pictures") << QStringList{QString::fromLatin1("\0\x1b", 2)}
                                             << QString::fromUtf8("\xe2\x90\x80\xe2\x90\x9b");
    QTest::newRow("DEL") << QStringList{"\x7f"} << QString::fromUtf8("\xe2\x90\xa1");
    QTest::newRow("C1 control") << QStringList{QString::fromLatin1("\x85")}
                                << QString(QChar::ReplacementCharacter);
    QTest::newRow("Latin-1 letters as they are")
        << QStringList{QString::fromLatin1("\xe9\xff")} << QString::fromLatin1("\xe9\xff");
    QTest::newRow("tab stays") << QStringList{"a\tb"} << "a\tb";
}

void TerminalTest::response() {
    QFETCH(QStringList, reads);
    QFETCH(QString, shown);
    ResponseText text;
    QString result;
    for (const QString& read : reads) {
        result += text.render(read);
    }
    QCOMPARE(result, shown);

    // A line without breaks continues on a new line after kLongestLine characters.
    ResponseText longLine;
    const QString rendered = longLine.render(QString(ResponseText::kLongestLine * 2 + 5, u'x'));
    QCOMPARE(rendered.count(u'\n'), 2);
    QCOMPARE(rendered.indexOf(u'\n'), ResponseText::kLongestLine);
}

QTEST_GUILESS_MAIN(TerminalTest)
#include "tst_terminal.moc"

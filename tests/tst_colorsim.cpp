// The simulated sensor: its lines read as readings, every sample it claims is recognised as
// that color, its answers hold no markers, and the program itself behaves on its device.
#include "sampleevaluation.h"
#include "sensorsamples.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

/// What the sensor sends on its device, read until enough says so (or about 10 s passed).
QByteArray readUntil(int port, const std::function<bool(const QByteArray&)>& enough) {
    QByteArray received;
    for (int waited = 0; waited < 200 && !enough(received); ++waited) {
        pollfd readable{port, POLLIN, 0};
        ::poll(&readable, 1, 50);
        char buffer[65536];
        const ssize_t n = ::read(port, buffer, sizeof buffer);
        if (n > 0) {
            received.append(buffer, n);
        }
    }
    return received;
}

} // namespace

class ColorSimTest : public QObject {
    Q_OBJECT

private slots:
    void everySampleIsRecognisedAsClaimed();
    void answersHoldNoMarkers();
    void garbageHoldsNoMarkersUnlessAsked();
    void runsOnAPseudoTerminal();
    void burstArrivesWholeAndEndsWithItsReader();
    void restsWhileNobodyListens();
};

void ColorSimTest::everySampleIsRecognisedAsClaimed() {
    const QRegularExpression line(QStringLiteral("^R=(\\d{4}) G=(\\d{4}) B=(\\d{4})\\r\\n$"));
    colorsim::SampleCycle cycle(7);
    QSet<QString> seen;
    for (int i = 0; i < 5000; ++i) {
        const auto [sample, reading] = cycle.next();
        const QString text = QString::fromLatin1(colorsim::readingLine(reading));
        const QRegularExpressionMatch match = line.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        const auto evaluation =
            color::evaluateSample(match.captured(1).toDouble(), match.captured(2).toDouble(),
                                  match.captured(3).toDouble(), color::Method::Recognize);
        QVERIFY(evaluation && evaluation->caption);
        QVERIFY2(*evaluation->caption == sample->caption,
                 qPrintable(text.trimmed() + " is " + *evaluation->caption + ", not " +
                            sample->caption));
        seen << sample->caption;
    }
    for (const char* caption :
         {"Color White", "Color Black", "Color Red", "Color Green", "Color Blue"}) {
        QVERIFY2(seen.contains(caption), caption);
    }
    QVERIFY(seen.size() >= 9);
}

void ColorSimTest::answersHoldNoMarkers() {
    QByteArray everyByte;
    for (int value = 0; value < 256; ++value) {
        everyByte.append(static_cast<char>(value));
    }
    const QByteArray echo = colorsim::echoLine(everyByte);
    QVERIFY(echo.startsWith("echo 00 01 02"));
    QVERIFY(echo.endsWith("fe ff\r\n"));
    QVERIFY(!echo.contains('R') && !echo.contains('G') && !echo.contains('B'));
}

void ColorSimTest::garbageHoldsNoMarkersUnlessAsked() {
    colorsim::SampleCycle cycle(3);
    int markers = 0;
    for (int i = 0; i < 2000; ++i) {
        const QByteArray plain = cycle.garbage();
        QVERIFY(!plain.contains('R') && !plain.contains('G') && !plain.contains('B'));
        const QByteArray any = cycle.garbage(true);
        markers += int(any.count('R') + any.count('G') + any.count('B'));
    }
    QVERIFY(markers > 0);
}

void ColorSimTest::runsOnAPseudoTerminal() {
    QProcess sim;
    sim.start(QStringLiteral(ZEL_COLORSIM), {"--rate", "50", "--count", "20"});
    QVERIFY(sim.waitForReadyRead(5000));
    const QByteArray path = sim.readLine().trimmed();
    QVERIFY2(path.startsWith("/dev/"), path.constData());

    const int port = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(port >= 0);
    QVERIFY(::write(port, "ABC", 3) == 3);
    const QByteArray received = readUntil(port, [](const QByteArray& received) {
        return received.contains("echo 41 42 43\r\n") && received.contains("\r\nR=");
    });
    QVERIFY2(received.contains("echo 41 42 43\r\n"), received.constData());
    QVERIFY(received.contains("\r\nR="));
    // The program going away is not the end of the sensor: it finishes its 20 lines, those
    // said while nobody listened being lost.
    ::close(port);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    const QString report = QString::fromLocal8Bit(sim.readAllStandardError());
    const QRegularExpressionMatch counts =
        QRegularExpression("sent (\\d+) lines.*; (\\d+) lines while the port was closed were lost")
            .match(report);
    QVERIFY2(counts.hasMatch(), qPrintable(report));
    QCOMPARE(counts.captured(1).toInt() + counts.captured(2).toInt(), 20);
    QVERIFY(counts.captured(1).toInt() >= 1);
}

void ColorSimTest::burstArrivesWholeAndEndsWithItsReader() {
    // Read whole: exactly the bytes asked for, in whole reading lines.
    {
        QProcess sim;
        sim.start(QStringLiteral(ZEL_COLORSIM), {"--burst", "100000", "--rate", "0"});
        QVERIFY(sim.waitForReadyRead(5000));
        const QByteArray path = sim.readLine().trimmed();
        const int port = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(port >= 0);
        const QByteArray received =
            readUntil(port, [](const QByteArray& received) { return received.size() >= 100000; });
        QVERIFY(sim.waitForReadyRead(5000));
        QCOMPARE(sim.readLine(), QByteArray("burst done\n"));
        // The last line may take the burst a little past the size asked for.
        QVERIFY2(received.size() >= 100000 && received.size() < 100000 + 64,
                 qPrintable(QString::number(received.size())));
        QVERIFY(received.endsWith("\r\n"));
        const QRegularExpression line("^R=\\d{4} G=\\d{4} B=\\d{4}$");
        QList<QByteArray> lines = received.split('\n');
        lines.removeLast(); // empty, after the last line feed
        for (const QByteArray& text : lines) {
            QVERIFY2(text.endsWith('\r') &&
                         line.match(QString::fromLatin1(text.chopped(1))).hasMatch(),
                     text.constData());
        }
        ::close(port);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }
    // The reader goes away in the middle of a large burst: the burst ends, the sensor waits.
    {
        QProcess sim;
        sim.start(QStringLiteral(ZEL_COLORSIM), {"--burst", "50000000", "--rate", "0"});
        QVERIFY(sim.waitForReadyRead(5000));
        const QByteArray path = sim.readLine().trimmed();
        const int port = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(port >= 0);
        QVERIFY(readUntil(port, [](const QByteArray& received) {
                    return received.size() >= 200000;
                }).size() >= 200000);
        ::close(port);
        QVERIFY(sim.waitForReadyRead(5000));
        QCOMPARE(sim.readLine(), QByteArray("burst cut short: the port was closed\n"));
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
    }
}

void ColorSimTest::restsWhileNobodyListens() {
    const auto cpuSeconds = [](qint64 pid) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) {
            return -1.0;
        }
        // utime and stime are fields 14 and 15, counted after the name in parentheses.
        const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
        return (fields.value(12).toDouble() + fields.value(13).toDouble()) /
               double(::sysconf(_SC_CLK_TCK));
    };
    QProcess sim;
    sim.start(QStringLiteral(ZEL_COLORSIM), {"--baud", "9600"});
    QVERIFY(sim.waitForReadyRead(5000));
    const QByteArray path = sim.readLine().trimmed();
    // Before any program opens the port, and after one has opened and closed it again.
    for (int round = 0; round < 2; ++round) {
        const double before = cpuSeconds(sim.processId());
        QTest::qWait(2000);
        const double used = cpuSeconds(sim.processId()) - before;
        QVERIFY2(before >= 0 && used < 0.1, qPrintable(QString::number(used)));
        const int port = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(port >= 0);
        QVERIFY(readUntil(port, [](const QByteArray& r) {
                    return r.contains("\r\n");
                }).contains("\r\n"));
        ::close(port);
    }
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(ColorSimTest)
#include "tst_colorsim.moc"

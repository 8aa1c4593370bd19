// The simulated sensor: its lines read as readings, every sample it claims is recognised as
// that color, its answers hold no markers, and the program itself behaves on its device.
#include "sampleevaluation.h"
#include "sensorsamples.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <array>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <numeric>
#include <poll.h>
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

/// Starts the sensor and opens its port as a program does; the port's descriptor.
int startSim(QProcess& sim, const QStringList& arguments) {
    sim.start(QStringLiteral(ZEL_COLORSIM), arguments);
    if (!sim.waitForReadyRead(5000)) {
        return -1;
    }
    const QByteArray path = sim.readLine().trimmed();
    return ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

/// The sensor's report as it ends: lines sent, bytes sent, lines lost while nobody listened.
std::array<qint64, 4> endReport(QProcess& sim) {
    const QRegularExpressionMatch m =
        QRegularExpression("sent (\\d+) lines, (\\d+) bytes; (\\d+) lines while the port was "
                           "closed were lost; received (\\d+) bytes")
            .match(QString::fromLocal8Bit(sim.readAllStandardError()));
    return {m.captured(1).toLongLong(), m.captured(2).toLongLong(), m.captured(3).toLongLong(),
            m.captured(4).toLongLong()};
}

} // namespace

class ColorSimTest : public QObject {
    Q_OBJECT

private slots:
    void whatTheSensorSays();
    void runsOnAPseudoTerminal();
    void burst_data();
    void burst();
};

void ColorSimTest::whatTheSensorSays() {
    // Every sample reads as a reading and is recognised as the color it claims.
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
        QVERIFY2(*evaluation->caption == sample->caption, qPrintable(text + sample->caption));
        seen << sample->caption;
    }
    for (const char* caption :
         {"Color White", "Color Black", "Color Red", "Color Green", "Color Blue"}) {
        QVERIFY2(seen.contains(caption), caption);
    }
    QVERIFY(seen.size() >= 9);
    // Its answers and its garbage hold no marker, unless garbage is asked to.
    QByteArray everyByte(256, '\0');
    std::iota(everyByte.begin(), everyByte.end(), '\0');
    const QByteArray echo = colorsim::echoLine(everyByte);
    QVERIFY(echo.startsWith("echo 00 01 02") && echo.endsWith("fe ff\r\n"));
    QVERIFY(!echo.contains('R') && !echo.contains('G') && !echo.contains('B'));
    int markers = 0;
    QSet<qsizetype> sizes;
    for (int i = 0; i < 2000; ++i) {
        const QByteArray plain = cycle.garbage();
        sizes << plain.size();
        QVERIFY(!plain.contains('R') && !plain.contains('G') && !plain.contains('B'));
        const QByteArray any = cycle.garbage(true);
        markers += int(any.count('R') + any.count('G') + any.count('B'));
    }
    QVERIFY(markers > 0);
    QCOMPARE(sizes.size(), 14); // 3 to 16 bytes
    QVERIFY(sizes.contains(3) && sizes.contains(16));
}

void ColorSimTest::runsOnAPseudoTerminal() {
    // The usage when asked for; for a missing value or an unknown option, as an error.
    const QList<std::pair<const char*, int>> asked = {
        {"--help", 0}, {"-h", 0}, {"--rate", 2}, {"--nonsense 1", 2}};
    for (const auto& [words, exitCode] : asked) {
        QProcess help;
        help.start(QStringLiteral(ZEL_COLORSIM), QString::fromLatin1(words).split(u' '));
        QVERIFY(help.waitForFinished(5000) && help.exitCode() == exitCode);
        QVERIFY((exitCode == 0 ? help.readAllStandardOutput() : help.readAllStandardError())
                    .contains("--markers"));
    }
    // Lines at the rate asked (in half a second, a line at the start and one every 1/40 s);
    // at rate 0 not even a first line.
    for (const auto& [rate, lines] : {std::pair{"0", 0}, std::pair{"40", 21}}) {
        QProcess paced;
        ::close(startSim(paced, {"--rate", rate, "--duration", "0.5"}));
        QVERIFY(paced.waitForFinished(5000));
        const auto [sent, bytes, lost, heard] = endReport(paced);
        QVERIFY2(std::abs(sent + lost - lines) <= lines / 5, qPrintable(QString::number(lost)));
    }
    QProcess sim; // over a second: a sensor without --duration runs until its count
    const int port = startSim(sim, {"--rate", "15", "--count", "20"});
    QVERIFY(::write(port, "ABC", 3) == 3);
    const QByteArray received = readUntil(port, [](const QByteArray& r) {
        return r.contains("echo 41 42 43\r\n") && r.contains("\r\nR=");
    });
    QVERIFY2(received.contains("echo 41 42 43\r\n") && received.contains("\r\nR="),
             received.constData());
    // The program going away is not the end of the sensor: it finishes its 20 lines, those
    // said while nobody listened being lost.
    ::close(port);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    const auto [sent, bytes, lost, heard] = endReport(sim);
    QVERIFY(sent >= 1 && sent + lost == 20 && heard == 3); // "ABC"
}

void ColorSimTest::burst_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("readerLeavesAfter");
    QTest::addColumn<QByteArray>("report");
    QTest::newRow("read whole") << 100000 << 0 << QByteArray("burst done\n");
    QTest::newRow("the reader goes away")
        << 50000000 << 200000 << QByteArray("burst cut short: the port was closed\n");
}

void ColorSimTest::burst() {
    QFETCH(int, size);
    QFETCH(int, readerLeavesAfter);
    QFETCH(QByteArray, report);
    QProcess sim;
    const int port = startSim(sim, {"--burst", QString::number(size), "--rate", "0"});
    const int enough = readerLeavesAfter > 0 ? readerLeavesAfter : size;
    const QByteArray received =
        readUntil(port, [&](const QByteArray& r) { return r.size() >= enough; });
    QVERIFY(received.size() >= enough);
    if (readerLeavesAfter > 0) {
        QTest::qWait(200); // the sensor's writes wait for a reader that reads no more
        ::close(port);
    }
    QVERIFY(sim.waitForReadyRead(5000));
    QCOMPARE(sim.readLine(), report);
    if (readerLeavesAfter == 0) {
        // Exactly the bytes asked for, in whole reading lines (the last may reach a little past).
        QVERIFY(received.size() < size + 64 && received.endsWith("\r\n"));
        QCOMPARE(received.count('\n'), QString::fromLatin1(received).count(
                                           QRegularExpression("R=\\d{4} G=\\d{4} B=\\d{4}\r\n")));
        ::close(port);
    }
    ::kill(pid_t(sim.processId()), readerLeavesAfter > 0 ? SIGTERM : SIGINT); // kill, Ctrl+C
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    // Only the lines that went out whole count as sent (22 bytes each).
    const auto [sent, bytes, lost, heard] = endReport(sim);
    QVERIFY(sent > 0 && 22 * sent <= bytes);
}

QTEST_GUILESS_MAIN(ColorSimTest)
#include "tst_colorsim.moc"

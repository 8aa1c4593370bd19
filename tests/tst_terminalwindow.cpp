// The terminal on the window of Zel_Connect, end to end over a pseudo-terminal: what the
// hex fields and the text line put on the line, focus and Enter, and what the device's
// readings do to the fields, the result, the chart and the log.
#include "pseudoterminal.h"
#include "responseview.h"
#include "sampleplot.h"
#include "testhelpers.h"
#include "zelconnectwindow.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>

class TerminalWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void hexBytesGoOutInOneWrite_data();
    void hexBytesGoOutInOneWrite();
    void hexFieldNormalizedWhenFocusLeaves_data();
    void hexFieldNormalizedWhenFocusLeaves();
    void focusSelectsAll();
    void enterSendsTheLineAsItStands();
    void enterWhileClosedEmptiesTheLine();
    void emptyLineSendsNothing();
    void readingsEvaluatedPlottedAndLogged();
    void readingSplitAcrossReads();
    void noReadingContinuesAcrossAClose_data();
    void noReadingContinuesAcrossAClose();
    void userTurningToAFieldSeesTheLatestText();
    void responseFieldStaysBounded();
    void caretAtTheEndAfterEveryEvent();
    void controlCharactersAreVisible();
    void queuedBytesGoOutBeforeTheClose_data();
    void queuedBytesGoOutBeforeTheClose();
    void bytesThatCannotGoOutAreReported();
    void sendToALostDeviceIsReported();

private:
    void connectDevice();
    void showActive();
    QByteArray logContents() const;

    QTemporaryDir m_dir;
    std::unique_ptr<PseudoTerminal> m_device;
    std::unique_ptr<ZelConnectWindow> m_window;
    MessageRecorder m_recorder;
    MessageRecorder m_notices;
};

void TerminalWindowTest::init() {
    m_device = std::make_unique<PseudoTerminal>();
    QVERIFY(m_device->isValid());
    qputenv("ZEL_COM1", m_device->devicePath().toLocal8Bit());
    QFile::remove(m_dir.filePath("app.txt"));
    m_window = std::make_unique<ZelConnectWindow>(m_dir.filePath("app.txt"));
    m_recorder.boxes.clear();
    m_window->setMessagePresenter(m_recorder.presenter());
    m_notices.boxes.clear();
    m_window->setNoticePresenter(m_notices.presenter());
}

void TerminalWindowTest::cleanup() {
    m_window.reset();
    m_device.reset();
}

void TerminalWindowTest::connectDevice() {
    m_window->mnuConnect_Click();
    QVERIFY(m_window->serialControl().PortOpen());
}

void TerminalWindowTest::showActive() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

QByteArray TerminalWindowTest::logContents() const {
    QFile file(m_dir.filePath("app.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TerminalWindowTest::hexBytesGoOutInOneWrite_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("01, empty, FF") << QStringList{"01", "", "FF"} << QByteArray("\x01\xff", 2);
    QTest::newRow("00 goes out") << QStringList{"00"} << QByteArray("\x00", 1);
    QTest::newRow("all empty: nothing") << QStringList{} << QByteArray();
}

void TerminalWindowTest::hexBytesGoOutInOneWrite() {
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, bytes);
    connectDevice();
    for (int i = 0; i < fields.size(); ++i) {
        m_window->controls().txtHEX[i]->setText(fields[i]);
    }
    QTest::mouseClick(m_window->controls().btnSend[0], Qt::LeftButton);
    QByteArray atDevice;
    QTRY_VERIFY_WITH_TIMEOUT((atDevice += m_device->read(10)).size() >= bytes.size(), 2000);
    QTest::qWait(50);
    atDevice += m_device->read(10);
    QCOMPARE(atDevice, bytes);
    QVERIFY(m_recorder.boxes.isEmpty());
}

void TerminalWindowTest::hexFieldNormalizedWhenFocusLeaves_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("a") << "a"
                       << "0A" << QByteArray("\x0a");
    QTest::newRow("g") << "g"
                       << "00" << QByteArray("\x00", 1);
    QTest::newRow("gh") << "gh"
                        << "" << QByteArray();
    QTest::newRow("abc") << "abc"
                         << "AB" << QByteArray("\xab");
}

void TerminalWindowTest::hexFieldNormalizedWhenFocusLeaves() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QByteArray, sent);
    showActive();
    connectDevice();
    QLineEdit* field = m_window->controls().txtHEX[0];
    field->setFocus();
    QTest::keyClicks(field, typed);
    // Pressing Send takes the focus first, as a click does.
    QTest::mouseClick(m_window->controls().btnSend[0], Qt::LeftButton);
    QCOMPARE(field->text(), shown);
    QTest::qWait(100);
    QCOMPARE(m_device->read(100), sent);
}

void TerminalWindowTest::focusSelectsAll() {
    showActive();
    QLineEdit* hex = m_window->controls().txtHEX[0];
    QLineEdit* second = m_window->controls().txtHEX[1];
    second->setText("3F");
    QTest::keyClick(hex, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), second);
    QCOMPARE(second->selectedText(), QStringLiteral("3F"));
    QTest::keyClicks(second, "7");
    QCOMPARE(second->text(), QStringLiteral("7")); // typing replaced it

    QLineEdit* line = m_window->controls().txtTextOut;
    line->setText("hello there");
    QTest::mouseClick(line, Qt::LeftButton, {}, QPoint(20, line->height() / 2));
    QTRY_COMPARE(line->selectedText(), QStringLiteral("hello there"));
    // The hex field that lost the focus was normalized.
    QCOMPARE(second->text(), QStringLiteral("07"));
}

void TerminalWindowTest::enterSendsTheLineAsItStands() {
    showActive();
    connectDevice();
    QLineEdit* line = m_window->controls().txtTextOut;
    QTest::keyClicks(line, "ABC");
    QTest::keyClick(line, Qt::Key_Return);
    QCOMPARE(line->text(), QString());
    QTest::qWait(100);
    QCOMPARE(m_device->read(200), QByteArray("ABC"));

    line->setText(QString::fromUtf8("\xc3\xa9t\xc3\xa9 5\xe2\x82\xac")); // "été 5€"
    QTest::mouseClick(m_window->controls().btnSend[1], Qt::LeftButton);
    QCOMPARE(line->text().size(), 6); // the button does not empty the line
    QTest::qWait(100);
    QCOMPARE(m_device->read(200), QByteArray("\xe9t\xe9 5?"));
}

void TerminalWindowTest::enterWhileClosedEmptiesTheLine() {
    showActive();
    QLineEdit* line = m_window->controls().txtTextOut;
    line->setFocus();
    QTest::keyClicks(line, "ABC");
    QTest::keyClick(line, Qt::Key_Enter);
    QCOMPARE(line->text(), QString());
    QCOMPARE(m_device->read(100), QByteArray());
    QVERIFY(m_recorder.boxes.isEmpty());
}

void TerminalWindowTest::emptyLineSendsNothing() {
    connectDevice();
    m_window->btnSend_Click(1);
    m_window->btnSend_Click(0);
    QTest::qWait(100);
    QCOMPARE(m_device->read(100), QByteArray());
}

void TerminalWindowTest::readingsEvaluatedPlottedAndLogged() {
    connectDevice();
    const QByteArray line = "R=3712 G=3590 B=3880\r\n";
    QVERIFY(m_device->write(line));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->controls().TextB->text(), QStringLiteral("3880"), 2000);
    QCOMPARE(m_window->controls().TextR->text(), QStringLiteral("3712"));
    QCOMPARE(m_window->controls().TextCal->text(), QStringLiteral("Text1")); // not yet
    QCOMPARE(m_window->samplePlot().model().strokeCount(), std::size_t(0));

    QVERIFY(m_device->write(line));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->samplePlot().model().strokeCount(), std::size_t(1), 2000);
    QTRY_COMPARE(m_window->controls().TextCal->text(), QStringLiteral("343.5"));
    QCOMPARE(m_window->controls().lblColor->text(), QStringLiteral("Grid1"));
    QCOMPARE(logContents(), QByteArray("0, R=3712 G=3590 B=3880\r\n"));
    QTRY_COMPARE(m_window->controls().TextB->text(), QStringLiteral("3880"));
    QTRY_COMPARE(m_window->controls().txtResponse->text(),
                 QStringLiteral("R=3712 G=3590 B=3880\nR=3712 G=3590 B=3880\n"));
}

void TerminalWindowTest::readingSplitAcrossReads() {
    // The handler itself, read by read, as a driver may split a line anywhere.
    m_window->receive("R=01");
    m_window->receive("23 G=0");
    m_window->receive("200 B");
    m_window->receive("=0300\r");
    m_window->receive("\nR");
    QCOMPARE(logContents(), QByteArray("0, R=0123 G=0200 B=0300\r\n"));
    using Text = frmMain::SampleText;
    QCOMPARE(m_window->sampleText(Text::Green), QStringLiteral("0200"));
    QCOMPARE(m_window->sampleText(Text::Red), QString());
    // The widgets follow with the next display frame.
    QCOMPARE(m_window->controls().TextG->text(), QStringLiteral("G"));
    QTRY_COMPARE(m_window->controls().TextG->text(), QStringLiteral("0200"));
    QCOMPARE(m_window->controls().TextB->text(), QStringLiteral("0300"));
    QCOMPARE(m_window->controls().TextR->text(), QString());
    QCOMPARE(m_window->controls().TextCal->text(), QStringLiteral("189.1"));
}

void TerminalWindowTest::noReadingContinuesAcrossAClose_data() {
    QTest::addColumn<QString>("close");
    QTest::newRow("Disconnect, Connect") << "connect";
    QTest::newRow("speed changed while connected") << "speed";
    QTest::newRow("device lost and back") << "lost";
}

void TerminalWindowTest::noReadingContinuesAcrossAClose() {
    QFETCH(QString, close);
    // The port reaches the device through a link, as a device that comes back does.
    const QString link = m_dir.filePath("sensor");
    QFile::remove(link);
    QVERIFY(QFile::link(m_device->devicePath(), link));
    qputenv("ZEL_COM1", link.toLocal8Bit());
    connectDevice();
    QVERIFY(m_device->write("R=1000 G=1000 B=1000\r\nR=37"));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->sampleText(frmMain::SampleText::Red), QStringLiteral("37"),
                              2000);
    QCOMPARE(logContents(), QByteArray("0, R=1000 G=1000 B=1000\r\n"));

    if (close == "connect") {
        m_window->mnuConnect_Click();
        m_window->mnuConnect_Click();
    } else if (close == "speed") {
        m_window->mnuSpeedSel_Click(7);
        QCOMPARE(m_window->serialControl().Settings(), QStringLiteral("19200,N,8,1"));
    } else {
        // A cable glitch: the device comes back where it was, and the port opens by itself.
        m_device->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->serialControl().PortOpen(), 3000);
        m_device = std::make_unique<PseudoTerminal>();
        QVERIFY(QFile::remove(link) && QFile::link(m_device->devicePath(), link));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->serialControl().PortOpen(), 3000);
    }
    QVERIFY(m_window->serialControl().PortOpen());
    QVERIFY(m_recorder.boxes.isEmpty());

    // The device goes on where it was; the program must not make "3790" of it.
    QVERIFY(m_device->write("90 G=1111 B=2222 R=3000 G=2000 B=1000 R="));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->samplePlot().model().strokeCount(), std::size_t(2), 2000);
    QCOMPARE(logContents(), QByteArray("0, R=1000 G=1000 B=1000\r\n100, R=3000 G=2000 B=1000\r\n"));
}

void TerminalWindowTest::userTurningToAFieldSeesTheLatestText() {
    showActive();
    m_window->receive("R=0100G=0200B=0300\r\n");
    QCOMPARE(m_window->controls().TextR->text(), QStringLiteral("R")); // not yet shown
    // Typing into the field starts from what the program holds, not from the old text.
    m_window->controls().TextR->setFocus();
    QCOMPARE(m_window->controls().TextR->text(), QStringLiteral("0100"));
    QTest::keyClick(m_window->controls().TextR, Qt::Key_End);
    QTest::keyClick(m_window->controls().TextR, Qt::Key_5);
    QTest::qWait(50);
    QCOMPARE(m_window->controls().TextR->text(), QStringLiteral("01005"));
    QCOMPARE(m_window->sampleText(frmMain::SampleText::Red), QStringLiteral("01005"));
}

void TerminalWindowTest::responseFieldStaysBounded() {
    const QByteArray line = "R=3712 G=3590 B=3880 noise noise noise noise noise\r\n";
    QByteArray chunk;
    while (chunk.size() < 64 * 1024) {
        chunk += line;
    }
    for (int i = 0; i < 80; ++i) { // about 5 MiB
        m_window->receive(chunk);
    }
    const QString text = m_window->controls().txtResponse->text();
    QVERIFY2(text.size() >= (1 << 20), qPrintable(QString::number(text.size())));
    QVERIFY2(text.size() <= (2 << 20) + 1, qPrintable(QString::number(text.size())));
    QVERIFY(text.startsWith("R=3712")); // whole lines were dropped
    QVERIFY(text.endsWith("noise\n"));
}

void TerminalWindowTest::caretAtTheEndAfterEveryEvent() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    connectDevice();
    ResponseView* response = m_window->controls().txtResponse;
    QString lines;
    for (int i = 0; i < 40; ++i) {
        lines += QStringLiteral("line %1\r\n").arg(i);
    }
    QVERIFY(m_device->write(lines.toLatin1()));
    QTRY_VERIFY(response->text().endsWith("line 39\n"));
    QVERIFY(response->atEnd());
    // The user scrolls back to read; the next event brings the view to the end again.
    QTRY_VERIFY(response->verticalScrollBar()->maximum() > 0);
    response->verticalScrollBar()->setValue(0);
    QVERIFY(!response->atEnd());
    QVERIFY(m_device->write("second"));
    QTRY_VERIFY(response->text().endsWith("second"));
    QVERIFY(response->atEnd());
    QTRY_COMPARE(response->verticalScrollBar()->value(), response->verticalScrollBar()->maximum());
}

void TerminalWindowTest::controlCharactersAreVisible() {
    // Whatever fonts the machine has: each of these must leave a mark of its own.
    const auto rendered = [](const QByteArray& bytes) {
        ResponseView view;
        view.resize(120, 40);
        view.append(QByteArrayView(bytes));
        view.refresh();
        return view.grab().toImage();
    };
    const QImage blank = rendered("");
    const QList<QByteArray> bytes = {
        QByteArray(1, '\0'), "\x1b", "\x7f", "\x85", "\x9b", "\xa0", "\xad"};
    QList<QImage> images;
    for (const QByteArray& byte : bytes) {
        images << rendered(byte);
        QVERIFY2(images.back() != blank, byte.toHex().constData());
        for (qsizetype i = 0; i + 1 < images.size(); ++i) {
            QVERIFY2(images[i] != images.back(), (bytes[i] + " " + byte).toHex().constData());
        }
    }
    QCOMPARE(rendered(" "), blank);
}

void TerminalWindowTest::queuedBytesGoOutBeforeTheClose_data() {
    QTest::addColumn<QString>("close");
    QTest::newRow("Disconnect") << "connect";
    QTest::newRow("speed changed") << "speed";
    QTest::newRow("window closed") << "window";
}

void TerminalWindowTest::queuedBytesGoOutBeforeTheClose() {
    QFETCH(QString, close);
    connectDevice();
    const QByteArray line = QByteArray(3000, 'x') + "END";
    m_window->controls().txtTextOut->setText(QString::fromLatin1(line));
    m_window->btnSend_Click(1); // queued: no event loop runs before the close
    if (close == "connect") {
        m_window->mnuConnect_Click();
    } else if (close == "speed") {
        m_window->mnuSpeedSel_Click(7);
    } else {
        m_window->close();
    }
    QByteArray atDevice;
    QTRY_VERIFY_WITH_TIMEOUT((atDevice += m_device->read(10)).size() >= line.size(), 2000);
    QCOMPARE(atDevice, line);
    QVERIFY(m_notices.boxes.isEmpty());
}

void TerminalWindowTest::bytesThatCannotGoOutAreReported() {
    connectDevice();
    m_window->mnuSpeedSel_Click(12); // 256000 baud: the wait for the bytes is short
    const QString line(32767, u'x');
    m_window->controls().txtTextOut->setText(line);
    for (int i = 0; i < 3; ++i) {
        m_window->btnSend_Click(1);
    }
    QTest::qWait(300); // the device reads nothing: its terminal fills up
    m_window->mnuConnect_Click();
    QCOMPARE(m_notices.boxes.size(), 1);
    const QRegularExpressionMatch unsent =
        QRegularExpression("^Could not send to Com1:\n(\\d+) bytes could not be sent")
            .match(m_notices.boxes[0].prompt);
    QVERIFY2(unsent.hasMatch(), qPrintable(m_notices.boxes[0].prompt));
    QByteArray atDevice;
    for (QByteArray more; !(more = m_device->read(200)).isEmpty();) {
        atDevice += more;
    }
    QVERIFY(unsent.captured(1).toInt() > 0);
    QCOMPARE(atDevice.size() + unsent.captured(1).toInt(), 3 * line.size());
}

void TerminalWindowTest::sendToALostDeviceIsReported() {
    connectDevice();
    m_device->unplug();
    m_window->controls().txtTextOut->setText("hello");
    m_window->btnSend_Click(1);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->serialControl().PortOpen(), 2000);
    QTRY_VERIFY(!m_notices.boxes.isEmpty());
    QVERIFY2(m_notices.boxes[0].prompt.startsWith("Could not send to Com1:"),
             qPrintable(m_notices.boxes[0].prompt));
    QVERIFY(m_recorder.boxes.isEmpty());
}

QTEST_MAIN(TerminalWindowTest)
#include "tst_terminalwindow.moc"

// Tolvek: its window differences, CalculateSample and the recalculation after every received
// character, Enter keeping the line, and its About text.
#include "calculatesample.h"
#include "pseudoterminal.h"
#include "testhelpers.h"
#include "tolvekwindow.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>

using tolvek::CalculateSample;
using tolvek::Method;

class TolvekTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void calculation_data();
    void calculation();
    void overflowHasNoValue();

    void windowDifferences();
    void movedControls_data();
    void movedControls();
    void tabOrderWithoutTheMissingControls();
    void recalculatedAfterEveryCharacter();
    void nextSampleMixesOldAndNew();
    void noValueFromBothSidesOfAClose();
    void option3ShowsZero();
    void methodCountsFromTheNextCharacter();
    void overflowingReadingsLeaveTheValue();
    void enterSendsAndKeepsTheLine();
    void aboutBox();

private:
    QString textCal() const { return m_window->sampleText(frmMain::SampleText::Result); }

    std::unique_ptr<TolvekWindow> m_window;
    MessageRecorder m_recorder;
};

void TolvekTest::init() {
    m_window = std::make_unique<TolvekWindow>();
    m_recorder.boxes.clear();
    m_window->setMessagePresenter(m_recorder.presenter());
}

void TolvekTest::cleanup() {
    m_window.reset();
}

void TolvekTest::calculation_data() {
    QTest::addColumn<double>("r");
    QTest::addColumn<double>("g");
    QTest::addColumn<double>("b");
    QTest::addColumn<int>("method");
    QTest::addColumn<double>("value");
    QTest::newRow("10 20 30 Avg") << 10.0 << 20.0 << 30.0 << 0 << 20.0;
    QTest::newRow("10 20 30 TotalDiff") << 10.0 << 20.0 << 30.0 << 1 << 20.0;
    QTest::newRow("10 20 30 Option3") << 10.0 << 20.0 << 30.0 << 2 << 0.0;
    QTest::newRow("1 2 4 Avg") << 1.0 << 2.0 << 4.0 << 0 << 7.0 / 3;
    QTest::newRow("1 2 4 TotalDiff") << 1.0 << 2.0 << 4.0 << 1 << 10.0 / 3;
    QTest::newRow("no method") << 1.0 << 2.0 << 4.0 << -1 << 0.0;
}

void TolvekTest::calculation() {
    QFETCH(double, r);
    QFETCH(double, g);
    QFETCH(double, b);
    QFETCH(int, method);
    QFETCH(double, value);
    const auto selected = method < 0 ? std::nullopt : std::optional(static_cast<Method>(method));
    const auto result = CalculateSample(r, g, b, selected);
    QVERIFY(result);
    QCOMPARE(*result, value);
}

void TolvekTest::overflowHasNoValue() {
    for (const auto method : {Method::Average, Method::TotalDiff, Method::Option3}) {
        QCOMPARE(CalculateSample(1e308, 1e308, 1e308, method), std::nullopt);
    }
    QVERIFY(CalculateSample(1e307, 1e307, 1e307, Method::Average));
}

void TolvekTest::windowDifferences() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Basic Communications"));
    QVERIFY(m_window->windowIcon().isNull());
    QCOMPARE(m_window->centralWidget()->size(), QSize(549, 571));
    const frmMainControls& ui = m_window->controls();
    for (const char* name : {"cmdClearDrawBox", "cmdDraw", "cmdCal", "cmdGo", "DrawBoxFrame",
                             "DrawBox", "DrawSclBar", "lblColor"}) {
        QVERIFY2(!m_window->findChild<QWidget*>(name), name);
    }
    QVERIFY(!ui.Timer1 && !ui.lblColor && !ui.cmdCal && !ui.DrawBox);
    QCOMPARE(ui.functOption[0]->text(), QStringLiteral("Avg"));
    QCOMPARE(ui.functOption[1]->text(), QStringLiteral("TotalDiff"));
    QCOMPARE(ui.functOption[2]->text(), QStringLiteral("Option3"));
    QVERIFY(ui.functOption[0]->isChecked());
    QVERIFY(!ui.functOption[2]->isChecked());
    // What Tolvek shares is as Zel_Connect has it.
    QCOMPARE(ui.TextR->text(), QStringLiteral("R"));
    QCOMPARE(ui.TextCal->text(), QStringLiteral("Text1"));
    QCOMPARE(ui.StatusBar1Panels[1]->text(), QStringLiteral("Disconnected"));
    QCOMPARE(ui.StatusBar1Panels[3]->text(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(m_window->menus().mnuSpeed->actions().size(), 13);
    QVERIFY(m_window->menus().mnuCom[1]->isChecked());
}

void TolvekTest::movedControls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place"); // pixels
    QTest::newRow("StatusBar1") << "StatusBar1" << QRect(0, 554, 549, 17);
    QTest::newRow("txtResponse") << "txtResponse" << QRect(64, 56, 377, 251);
    QTest::newRow("Frame1") << "Frame1" << QRect(56, 312, 241, 41);
    QTest::newRow("TextR inside") << "TextR" << QRect(16, 16, 73, 19);
    QTest::newRow("TextCal") << "TextCal" << QRect(360, 328, 137, 19);
    QTest::newRow("Frame2") << "Frame2" << QRect(448, 112, 97, 201);
    QTest::newRow("Avg") << "functOption(0)" << QRect(8, 24, 57, 17);
    QTest::newRow("TotalDiff") << "functOption(1)" << QRect(8, 48, 65, 17);
    QTest::newRow("Option3") << "functOption(2)" << QRect(8, 72, 57, 17);
    QTest::newRow("unchanged: txtHEX(11)") << "txtHEX(11)" << QRect(416, 8, 25, 19);
    QTest::newRow("unchanged: btnClear(2)") << "btnClear(2)" << QRect(496, 56, 41, 19);
}

void TolvekTest::movedControls() {
    QFETCH(QString, name);
    QFETCH(QRect, place);
    QWidget* widget = m_window->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), place);
}

void TolvekTest::tabOrderWithoutTheMissingControls() {
    QStringList chain;
    QWidget* first = m_window->controls().txtHEX[0];
    QWidget* widget = first;
    do {
        if (widget->focusPolicy() & Qt::TabFocus) {
            chain << widget->objectName();
        }
        widget = widget->nextInFocusChain();
    } while (widget != first && chain.size() < 100);
    QCOMPARE(chain.mid(12),
             (QStringList{"btnSend(0)", "txtTextOut", "btnSend(1)", "txtResponse", "btnClear(0)",
                          "btnClear(1)", "btnClear(2)", "TextR", "TextG", "TextB", "TextCal",
                          "functOption(0)", "functOption(1)", "functOption(2)"}));
}

void TolvekTest::recalculatedAfterEveryCharacter() {
    m_window->recordValues(true);
    m_window->receive("R=0100G=0200B=0300\r\n");
    // Nothing until the blue value's first character; then with every one of its characters.
    QCOMPARE(m_window->takeRecordedValues(), (QList<double>{100, 101, 110, 200}));
    QCOMPARE(textCal(), QStringLiteral("200"));
    QTRY_COMPARE(m_window->controls().TextCal->text(), QStringLiteral("200"));
}

void TolvekTest::nextSampleMixesOldAndNew() {
    m_window->receive("R=0100G=0200B=0300\r\n");
    m_window->recordValues(true);
    m_window->receive("R=0");
    QCOMPARE(m_window->takeRecordedValues(), QList<double>{500.0 / 3});
    QCOMPARE(textCal(), QStringLiteral("166.666666666667"));
    // The same, with the next sample split over reads as a driver may deliver it.
    m_window->receive("1");
    QCOMPARE(textCal(), QStringLiteral("167"));
}

void TolvekTest::noValueFromBothSidesOfAClose() {
    m_window->receive("R=0100G=0200B=0300\r\n");
    emit m_window->serialControl().StreamEnded();
    m_window->recordValues(true);
    m_window->receive("G=0500");
    QCOMPARE(m_window->takeRecordedValues(), QList<double>{});
    QCOMPARE(textCal(), QStringLiteral("200"));
    m_window->receive("R=0100B=0300");
    QCOMPARE(m_window->takeRecordedValues(), (QList<double>{200, 201, 210, 300}));
}

void TolvekTest::option3ShowsZero() {
    m_window->controls().functOption[2]->setChecked(true);
    m_window->receive("R=0100G=0200B=0300\r\n");
    QCOMPARE(textCal(), QStringLiteral("0"));
}

void TolvekTest::methodCountsFromTheNextCharacter() {
    m_window->receive("R=0010G=0020B=0040");
    QCOMPARE(textCal(), QStringLiteral("23.3333333333333"));
    m_window->controls().functOption[1]->setChecked(true);
    QCOMPARE(textCal(), QStringLiteral("23.3333333333333"));
    m_window->receive(" "); // a blank changes no reading but still recalculates
    QCOMPARE(textCal(), QStringLiteral("33.3333333333333"));
}

void TolvekTest::overflowingReadingsLeaveTheValue() {
    m_window->receive("R=0010G=0020B=0030");
    QCOMPARE(textCal(), QStringLiteral("20"));
    using Text = frmMain::SampleText;
    for (const auto field : {Text::Red, Text::Green, Text::Blue}) {
        m_window->setSampleText(field, "1E308");
    }
    m_window->receive(" ");
    QCOMPARE(textCal(), QStringLiteral("20"));
    m_window->receive("G=0002B=0003"); // and the window goes on
    QCOMPARE(textCal(), QStringLiteral("3.33333333333333E+307"));
}

void TolvekTest::enterSendsAndKeepsTheLine() {
    PseudoTerminal device;
    qputenv("ZEL_COM1", device.devicePath().toLocal8Bit());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_window->mnuConnect_Click();
    QVERIFY(m_window->serialControl().PortOpen());
    QLineEdit* line = m_window->controls().txtTextOut;
    QTest::keyClicks(line, "MEAS");
    QTest::keyClick(line, Qt::Key_Return);
    QCOMPARE(line->text(), QStringLiteral("MEAS"));
    QTest::keyClick(line, Qt::Key_Return);
    QCOMPARE(line->text(), QStringLiteral("MEAS"));
    QByteArray sent;
    QTRY_VERIFY((sent += device.read(20)).size() >= 8);
    QCOMPARE(sent, QByteArray("MEASMEAS"));
}

void TolvekTest::aboutBox() {
    m_window->menus().mnuHelpSel[1]->trigger();
    m_window->menus().mnuHelpSel[0]->trigger();
    QCOMPARE(m_recorder.boxes.size(), 2);
    QCOMPARE(m_recorder.boxes[0],
             (MessageBoxRequest{"Basic Communications Program Version 0.91", "Help About",
                                MessageButtons::OkOnly, MessageIcon::None}));
    QCOMPARE(m_recorder.boxes[1].prompt,
             QStringLiteral("Basic Communications Program what you see is what you get."));
    // The boxes of the port keep Tolvek's own application title.
    qputenv("ZEL_COM1", "/nonexistent/zel-test-port");
    m_window->mnuConnect_Click();
    QCOMPARE(m_recorder.boxes.size(), 3);
    QCOMPARE(m_recorder.boxes[2].title, QStringLiteral("Zel_Connect"));
}

QTEST_MAIN(TolvekTest)
#include "tst_tolvek.moc"

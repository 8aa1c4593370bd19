// The window of Zel_Connect without a port: its design, start-up state, Clear, Help and the
// Settings menu's check marks.
#include "frmmain.h"
#include "responseview.h"
#include "testhelpers.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startUpState();
    void designPlaces_data();
    void designPlaces();
    void clientAreaIsFixed();
    void tabOrderAndInitialFocus();
    void clearButton_data();
    void clearButton();
    void helpBox_data();
    void helpBox();
    void menuTree();
    void speedMenuOffersThirteenSpeeds();
    void oneCheckMarkPerSubmenu_data();
    void oneCheckMarkPerSubmenu();
    void settingsWhileDisconnected();
    void portChoiceWhileDisconnected();
    void enterClicksTheFocusedButton();
    void accessLetterAfterAltAlone();

private:
    void showActive();
    QWidget* control(const QString& objectName) const;
    QStringList checkedItems() const;

    std::unique_ptr<frmMain> m_window;
    MessageRecorder m_recorder;
};

void MainWindowTest::init() {
    // No port behind any number: nothing here may open one.
    for (int port = 1; port <= 4; ++port) {
        qputenv(QByteArray("ZEL_COM") + QByteArray::number(port), "/nonexistent/zel-test");
    }
    m_window = std::make_unique<frmMain>(zelConnectVariant());
    m_recorder.boxes.clear();
    m_window->setMessagePresenter(m_recorder.presenter());
}

void MainWindowTest::cleanup() {
    m_window.reset();
}

void MainWindowTest::showActive() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

QWidget* MainWindowTest::control(const QString& objectName) const {
    return m_window->findChild<QWidget*>(objectName);
}

QStringList MainWindowTest::checkedItems() const {
    QStringList checked;
    for (QAction* action : m_window->findChildren<QAction*>()) {
        if (action->isChecked()) {
            checked << action->objectName();
        }
    }
    checked.sort();
    return checked;
}

void MainWindowTest::startUpState() {
    const frmMainControls& ui = m_window->controls();
    for (QLineEdit* hex : ui.txtHEX) {
        QVERIFY(hex->text().isEmpty());
    }
    QVERIFY(ui.txtTextOut->text().isEmpty());
    QVERIFY(ui.txtResponse->text().isEmpty());
    QCOMPARE(ui.TextR->text(), QStringLiteral("R"));
    QCOMPARE(ui.TextG->text(), QStringLiteral("G"));
    QCOMPARE(ui.TextB->text(), QStringLiteral("B"));
    QCOMPARE(ui.TextCal->text(), QStringLiteral("Text1"));
    QCOMPARE(ui.lblColor->text(), QStringLiteral("Recognizing..."));
    QVERIFY(!ui.functOption[0]->isChecked());
    QVERIFY(!ui.functOption[1]->isChecked());
    QVERIFY(ui.functOption[2]->isChecked());
    QCOMPARE(ui.StatusBar1Panels[1]->text(), QStringLiteral("Disconnected"));
    QCOMPARE(ui.StatusBar1Panels[2]->text(), QStringLiteral("COM1"));
    QCOMPARE(ui.StatusBar1Panels[3]->text(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(m_window->menus().mnuConnect->text(), QStringLiteral("&Connect"));
    QVERIFY(!ui.btnSend[0]->isEnabled());
    QVERIFY(!ui.btnSend[1]->isEnabled());
    QCOMPARE(checkedItems(), (QStringList{"mnuCom(1)", "mnuDataBSel(8)", "mnuParitySel(2)",
                                          "mnuSpeedSel(5)", "mnuStopSel(0)"}));
    QVERIFY(!m_window->serialControl().PortOpen());
    QVERIFY(!ui.Timer1->isActive());
    QCOMPARE(ui.Timer1->interval(), 1000);
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Zel Connect"));
    QVERIFY(!m_window->windowIcon().isNull());
    // Every other control is enabled at start.
    for (QWidget* widget : m_window->centralWidget()->findChildren<QWidget*>()) {
        if (widget != ui.btnSend[0] && widget != ui.btnSend[1]) {
            QVERIFY2(widget->isEnabled(), qPrintable(widget->objectName()));
        }
    }
    QVERIFY(m_recorder.boxes.isEmpty());
}

void MainWindowTest::designPlaces_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("place"); // pixels: twips / 15

    QTest::newRow("Label1") << "Label1"
                            << ""
                            << "HEX:" << QRect(8, 8, 41, 17);
    QTest::newRow("txtHEX(0)") << "txtHEX(0)"
                               << ""
                               << "" << QRect(64, 8, 25, 19);
    QTest::newRow("txtHEX(11)") << "txtHEX(11)"
                                << ""
                                << "" << QRect(416, 8, 25, 19);
    QTest::newRow("btnSend(0)") << "btnSend(0)"
                                << ""
                                << "Send" << QRect(448, 8, 41, 19);
    QTest::newRow("btnClear(0)") << "btnClear(0)"
                                 << ""
                                 << "Clear" << QRect(496, 8, 41, 19);
    QTest::newRow("txtTextOut") << "txtTextOut"
                                << ""
                                << "" << QRect(64, 32, 377, 19);
    QTest::newRow("btnSend(1)") << "btnSend(1)"
                                << ""
                                << "Send" << QRect(448, 32, 41, 19);
    QTest::newRow("Label3") << "Label3"
                            << ""
                            << "Response:" << QRect(8, 56, 57, 17);
    QTest::newRow("txtResponse") << "txtResponse"
                                 << ""
                                 << "" << QRect(64, 56, 377, 163);
    QTest::newRow("btnClear(2)") << "btnClear(2)"
                                 << ""
                                 << "Clear" << QRect(496, 56, 41, 19);
    QTest::newRow("cmdGo") << "cmdGo"
                           << ""
                           << "RndGo" << QRect(8, 96, 49, 25);
    QTest::newRow("Frame2") << "Frame2"
                            << ""
                            << "FunctionSelect" << QRect(448, 112, 97, 153);
    QTest::newRow("functOption(0)") << "functOption(0)"
                                    << "Frame2"
                                    << "Avgerage" << QRect(8, 24, 73, 17);
    QTest::newRow("functOption(1)") << "functOption(1)"
                                    << "Frame2"
                                    << "TotalDiff" << QRect(8, 48, 65, 17);
    QTest::newRow("functOption(2)") << "functOption(2)"
                                    << "Frame2"
                                    << "Recognize" << QRect(8, 64, 81, 33);
    QTest::newRow("cmdCal") << "cmdCal"
                            << ""
                            << "cal" << QRect(8, 128, 49, 25);
    QTest::newRow("cmdDraw") << "cmdDraw"
                             << ""
                             << "Draw" << QRect(8, 160, 49, 25);
    QTest::newRow("Frame1") << "Frame1"
                            << ""
                            << "Captured Data" << QRect(64, 224, 241, 41);
    QTest::newRow("TextR") << "TextR"
                           << "Frame1"
                           << "" << QRect(16, 16, 73, 19);
    QTest::newRow("TextG") << "TextG"
                           << "Frame1"
                           << "" << QRect(96, 16, 65, 19);
    QTest::newRow("TextB") << "TextB"
                           << "Frame1"
                           << "" << QRect(168, 16, 65, 19);
    QTest::newRow("TextCal") << "TextCal"
                             << ""
                             << "" << QRect(320, 240, 105, 19);
    QTest::newRow("DrawBoxFrame") << "DrawBoxFrame"
                                  << ""
                                  << "Frame3" << QRect(240, 272, 305, 217);
    QTest::newRow("DrawBox") << "DrawBox"
                             << "DrawBoxFrame"
                             << "" << QRect(0, 8, 305, 185);
    QTest::newRow("DrawSclBar") << "DrawSclBar"
                                << "DrawBoxFrame"
                                << "" << QRect(0, 192, 305, 17);
    QTest::newRow("lblColor") << "lblColor"
                              << ""
                              << "Recognizing..." << QRect(16, 280, 209, 129);
    QTest::newRow("cmdClearDrawBox") << "cmdClearDrawBox"
                                     << ""
                                     << "Clear Draw" << QRect(144, 440, 73, 25);
    QTest::newRow("StatusBar1") << "StatusBar1"
                                << ""
                                << "" << QRect(0, 474, 549, 17);
}

void MainWindowTest::designPlaces() {
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QString, caption);
    QFETCH(QRect, place);
    QWidget* widget = control(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), place);
    const QWidget* expectedParent =
        container.isEmpty() ? m_window->centralWidget() : control(container);
    QCOMPARE(widget->parentWidget(), expectedParent);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        QCOMPARE(button->text(), caption);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        QCOMPARE(label->text(), caption);
    } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        QCOMPARE(frame->title(), caption);
    }
}

void MainWindowTest::clientAreaIsFixed() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCOMPARE(m_window->centralWidget()->size(), QSize(549, 491));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    QCOMPARE(m_window->controls().lblColor->font().pointSize(), 24);
    QCOMPARE(m_window->controls().lblColor->font().families().value(0),
             QStringLiteral("MS Sans Serif"));
}

void MainWindowTest::tabOrderAndInitialFocus() {
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QCOMPARE(QApplication::focusWidget(), control("txtHEX(0)"));

    QStringList expected;
    for (int i = 0; i <= 11; ++i) {
        expected << QStringLiteral("txtHEX(%1)").arg(i);
    }
    expected << "btnSend(0)"
             << "txtTextOut"
             << "btnSend(1)"
             << "txtResponse"
             << "btnClear(0)"
             << "btnClear(1)"
             << "btnClear(2)"
             << "TextR"
             << "TextG"
             << "TextB"
             << "TextCal"
             << "functOption(0)"
             << "functOption(1)"
             << "functOption(2)"
             << "DrawSclBar"
             << "DrawBox"
             << "cmdGo"
             << "cmdCal"
             << "cmdDraw"
             << "cmdClearDrawBox";
    // The chain as Qt keeps it; the Send buttons are skipped by Tab while disabled.
    QStringList chain;
    QWidget* widget = control("txtHEX(0)");
    do {
        if (widget->focusPolicy() & Qt::TabFocus) {
            chain << widget->objectName();
        }
        widget = widget->nextInFocusChain();
    } while (widget != control("txtHEX(0)") && chain.size() < 100);
    QCOMPARE(chain, expected);
}

void MainWindowTest::clearButton_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("hexEmptied");
    QTest::addColumn<bool>("textLineEmptied");
    QTest::addColumn<bool>("responseEmptied");
    QTest::newRow("0: hex fields") << 0 << true << false << false;
    QTest::newRow("1: text line") << 1 << false << true << false;
    QTest::newRow("2: response") << 2 << false << false << true;
}

void MainWindowTest::clearButton() {
    QFETCH(int, index);
    QFETCH(bool, hexEmptied);
    QFETCH(bool, textLineEmptied);
    QFETCH(bool, responseEmptied);
    const frmMainControls& ui = m_window->controls();
    for (QLineEdit* hex : ui.txtHEX) {
        hex->setText("AB");
    }
    ui.txtTextOut->setText("hello");
    ui.txtResponse->append(u"R=3712");
    ui.TextR->setText("3712");

    QTest::mouseClick(ui.btnClear[index], Qt::LeftButton);

    for (QLineEdit* hex : ui.txtHEX) {
        QCOMPARE(hex->text().isEmpty(), hexEmptied);
    }
    QCOMPARE(ui.txtTextOut->text().isEmpty(), textLineEmptied);
    QCOMPARE(ui.txtResponse->text().isEmpty(), responseEmptied);
    QCOMPARE(ui.TextR->text(), QStringLiteral("3712"));
}

void MainWindowTest::helpBox_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("informationIcon");
    QTest::newRow("Basic Help") << 0 << "&Basic Help"
                                << "Basic Communications Program what you see is what you get."
                                << "Help" << true;
    QTest::newRow("About") << 1 << "&About"
                           << "Zel_Connect Version " ZEL_VERSION << "Help About" << false;
}

void MainWindowTest::helpBox() {
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(QString, prompt);
    QFETCH(QString, title);
    QFETCH(bool, informationIcon);
    QAction* item = m_window->menus().mnuHelpSel[index];
    QCOMPARE(item->text(), caption);
    item->trigger();
    QCOMPARE(m_recorder.boxes.size(), 1);
    const MessageBoxRequest expected{prompt, title, MessageButtons::OkOnly,
                                     informationIcon ? MessageIcon::Information
                                                     : MessageIcon::None};
    QCOMPARE(m_recorder.boxes.first(), expected);
}

void MainWindowTest::menuTree() {
    // Each menu with its items, as the user reads it; "*" marks a check mark.
    QStringList tree;
    std::function<void(QMenu*, const QString&)> walk = [&](QMenu* menu, const QString& path) {
        for (QAction* action : menu->actions()) {
            const QString item = path + "/" + action->text() + (action->isChecked() ? "*" : "");
            tree << item;
            if (action->menu()) {
                walk(action->menu(), item);
            }
        }
    };
    QStringList bar;
    for (QAction* action : m_window->menuBar()->actions()) {
        bar << action->text();
        if (action->menu()) {
            walk(action->menu(), action->text());
        }
    }
    QCOMPARE(bar, (QStringList{"&Settings", "&Connect", "&Help"}));
    const QStringList expected = {"&Settings/&Port",
                                  "&Settings/&Port/Com &1*",
                                  "&Settings/&Port/Com &2",
                                  "&Settings/&Port/Com &3",
                                  "&Settings/&Port/Com &4",
                                  "&Settings/&Speed",
                                  "&Settings/&Speed/11&0",
                                  "&Settings/&Speed/&300",
                                  "&Settings/&Speed/&600",
                                  "&Settings/&Speed/&1,200",
                                  "&Settings/&Speed/&2,400",
                                  "&Settings/&Speed/&9,600*",
                                  "&Settings/&Speed/14,400",
                                  "&Settings/&Speed/19,200",
                                  "&Settings/&Speed/28,800",
                                  "&Settings/&Speed/3&8,400",
                                  "&Settings/&Speed/56,000",
                                  "&Settings/&Speed/128,000",
                                  "&Settings/&Speed/256,000",
                                  "&Settings/&Data Bits",
                                  "&Settings/&Data Bits/&4",
                                  "&Settings/&Data Bits/&5",
                                  "&Settings/&Data Bits/&6",
                                  "&Settings/&Data Bits/&7",
                                  "&Settings/&Data Bits/&8*",
                                  "&Settings/&Parity",
                                  "&Settings/&Parity/&Even",
                                  "&Settings/&Parity/&Mark",
                                  "&Settings/&Parity/&None*",
                                  "&Settings/&Parity/&Odd",
                                  "&Settings/&Parity/&Space",
                                  "&Settings/&Stop Bits",
                                  "&Settings/&Stop Bits/&1*",
                                  "&Settings/&Stop Bits/1.&5",
                                  "&Settings/&Stop Bits/&2",
                                  "&Help/&Basic Help",
                                  "&Help/&About"};
    QCOMPARE(tree, expected);
    for (QAction* action : m_window->findChildren<QAction*>()) {
        QVERIFY(action->isEnabled());
        QVERIFY(action->isVisible());
    }
}

void MainWindowTest::speedMenuOffersThirteenSpeeds() {
    const QList<QAction*> speeds = m_window->menus().mnuSpeed->actions();
    QCOMPARE(speeds.size(), 13);
    for (QAction* speed : speeds) {
        const QString shown = speed->text().remove(u'&');
        QVERIFY(shown != "4,800" && shown != "57,600" && shown != "115,200");
    }
}

void MainWindowTest::oneCheckMarkPerSubmenu_data() {
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QStringList>("checked");
    QTest::newRow("nothing") << QStringList{}
                             << QStringList{"mnuCom(1)", "mnuDataBSel(8)", "mnuParitySel(2)",
                                            "mnuSpeedSel(5)", "mnuStopSel(0)"};
    // Clicking the item that has the mark must not take the mark away.
    QTest::newRow("checked items again")
        << QStringList{"mnuCom(1)", "mnuSpeedSel(5)", "mnuDataBSel(8)", "mnuParitySel(2)",
                       "mnuStopSel(0)"}
        << QStringList{"mnuCom(1)", "mnuDataBSel(8)", "mnuParitySel(2)", "mnuSpeedSel(5)",
                       "mnuStopSel(0)"};
    QTest::newRow("one of each") << QStringList{"mnuCom(4)", "mnuSpeedSel(12)", "mnuDataBSel(4)",
                                                "mnuParitySel(4)", "mnuStopSel(1)"}
                                 << QStringList{"mnuCom(4)", "mnuDataBSel(4)", "mnuParitySel(4)",
                                                "mnuSpeedSel(12)", "mnuStopSel(1)"};
    QTest::newRow("back and forth")
        << QStringList{"mnuSpeedSel(0)", "mnuSpeedSel(12)", "mnuSpeedSel(0)", "mnuCom(2)",
                       "mnuCom(3)",      "mnuStopSel(2)",   "mnuStopSel(2)"}
        << QStringList{"mnuCom(3)", "mnuDataBSel(8)", "mnuParitySel(2)", "mnuSpeedSel(0)",
                       "mnuStopSel(2)"};
}

void MainWindowTest::oneCheckMarkPerSubmenu() {
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, checked);
    for (const QString& name : clicks) {
        QAction* item = m_window->findChild<QAction*>(name);
        QVERIFY2(item, qPrintable(name));
        item->trigger();
    }
    QCOMPARE(checkedItems(), checked);

    // And a long random walk over every item keeps exactly one mark per submenu.
    const QList<QMenu*> submenus = {m_window->menus().mnuPort, m_window->menus().mnuSpeed,
                                    m_window->menus().mnuDataB, m_window->menus().mnuParity,
                                    m_window->menus().mnuStop};
    QRandomGenerator random(42);
    for (int step = 0; step < 200; ++step) {
        const QList<QAction*> items = submenus[random.bounded(submenus.size())]->actions();
        items[random.bounded(items.size())]->trigger();
        for (QMenu* submenu : submenus) {
            const QList<QAction*> items = submenu->actions();
            QCOMPARE(std::count_if(items.begin(), items.end(),
                                   [](QAction* a) { return a->isChecked(); }),
                     1);
        }
    }
    QVERIFY(m_recorder.boxes.isEmpty());
}

void MainWindowTest::settingsWhileDisconnected() {
    const frmMainMenus& menus = m_window->menus();
    QLabel* settingsPanel = m_window->controls().StatusBar1Panels[3];
    menus.mnuParitySel[0]->trigger();
    QCOMPARE(settingsPanel->text(), QStringLiteral("9600,E,8,1"));
    menus.mnuSpeedSel[9]->trigger();
    QCOMPARE(settingsPanel->text(), QStringLiteral("38400,E,8,1"));
    menus.mnuStopSel[1]->trigger();
    QCOMPARE(settingsPanel->text(), QStringLiteral("38400,E,8,1.5"));
    menus.mnuDataBSel[7]->trigger();
    QCOMPARE(settingsPanel->text(), QStringLiteral("38400,E,7,1.5"));
    QCOMPARE(m_window->controls().StatusBar1Panels[1]->text(), QStringLiteral("Disconnected"));
    QVERIFY(!m_window->serialControl().PortOpen());
    QVERIFY(m_recorder.boxes.isEmpty());
}

void MainWindowTest::portChoiceWhileDisconnected() {
    m_window->menus().mnuCom[3]->trigger();
    QVERIFY(m_recorder.boxes.isEmpty());
    QVERIFY(m_window->menus().mnuCom[3]->isChecked());
    QVERIFY(!m_window->menus().mnuCom[1]->isChecked());
    QCOMPARE(m_window->controls().StatusBar1Panels[2]->text(), QStringLiteral("COM3"));
    QCOMPARE(m_window->controls().StatusBar1Panels[1]->text(), QStringLiteral("Disconnected"));
    QCOMPARE(m_window->serialControl().CommPort(), 3);
}

void MainWindowTest::enterClicksTheFocusedButton() {
    showActive();
    const QList<QPushButton*> buttons = m_window->findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 9); // Send, Clear, RndGo, cal, Draw, Clear Draw
    for (QPushButton* button : buttons) {
        button->setEnabled(true); // Send waits for a connection otherwise
        button->setFocus();
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::keyClick(button, Qt::Key_Return);
        QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(button, Qt::Key_Space);
        QVERIFY2(clicked.size() == 3, qPrintable(button->objectName()));
    }
    // In a hex field Enter still does nothing at all.
    QLineEdit* hex = m_window->controls().txtHEX[0];
    hex->setFocus();
    hex->setText("4");
    QTest::keyClick(hex, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), hex);
    QCOMPARE(hex->text(), QStringLiteral("4"));
}

void MainWindowTest::accessLetterAfterAltAlone() {
    showActive();
    QMenuBar* bar = m_window->menuBar();
    // Alt pressed and released, then the letter: Connect is chosen at once (no port here).
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Alt);
    QTRY_VERIFY(bar->hasFocus());
    QTest::keyClick(bar, Qt::Key_C);
    QCOMPARE(m_recorder.boxes.size(), 1);
    QVERIFY(m_recorder.boxes[0].prompt.startsWith("Com1 is not available."));
    QCOMPARE(QApplication::focusWidget(), m_window->controls().txtTextOut);
    // A menu with items opens as before, and the letter does not choose anything in it.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Alt);
    QTRY_VERIFY(bar->hasFocus());
    QTest::keyClick(bar, Qt::Key_S);
    QTRY_VERIFY(m_window->menus().mnuSettings->isVisible());
    m_window->menus().mnuSettings->close();
    QCOMPARE(m_recorder.boxes.size(), 1);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"

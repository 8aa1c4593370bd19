// The windows of both programs without a port: their layout as properties (inside the
// container, no overlaps, a tab order that visits every control once) with spot checks,
// start-up, Clear, Help, the Settings menu, the keys a Windows user reaches for, the command
// line, and the signals that end the program.
#include "commandline.h"
#include "controlarray.h"
#include "frmmain.h"
#include "responseview.h"
#include "terminationsignals.h"
#include "testhelpers.h"
#include "tolvekvariant.h"

#include <QGroupBox>
#include <QMenuBar>
#include <QMessageBox>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

Q_DECLARE_METATYPE(WindowVariant)

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_window.reset(); }

    void layout_data();
    void layout();
    void startUp();
    void helpBox();
    void noticeDoesNotWait();
    void settingItemsApplyWhatTheySay();
    void enterClicksTheFocusedButton();
    void accessLetterAfterAltAlone();
    void commandLine();
    void endingSignalsComeThroughTheEventLoop();

private:
    QStringList checkedItems() const;

    std::unique_ptr<frmMain> m_window;
    QList<MessageBoxRequest> m_boxes; // asked for, not shown
};

void MainWindowTest::init() {
    // No port behind any number: nothing here may open one.
    for (int port = 1; port <= 4; ++port) {
        qputenv(QByteArray("ZEL_COM") + QByteArray::number(port), "/nonexistent/zel-test");
    }
    m_window = std::make_unique<frmMain>(zelConnectVariant());
    m_boxes.clear();
    m_window->setMessagePresenter([this](QWidget*, const MessageBoxRequest& r) { m_boxes << r; });
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

void MainWindowTest::layout_data() {
    QTest::addColumn<WindowVariant>("variant");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QStringList>("spotChecks"); // name, x, y, width, height in pixels
    QTest::addColumn<QStringList>("options");
    // clang-format off
    QTest::newRow("Zel_Connect") << zelConnectVariant() << QSize(549, 491)
        << QStringList{"txtHEX(11) 416 8 25 19", "txtResponse 64 56 377 163", "TextCal 320 240 105 19",
                       "DrawBox 0 8 305 185", "functOption(2) 8 64 81 33", "StatusBar1 0 474 549 17",
                       "Label3 8 56 57 17"}
        << QStringList{"Avgerage", "TotalDiff", "Recognize"};
    QTest::newRow("Tolvek") << tolvekVariant() << QSize(549, 571)
        << QStringList{"txtHEX(11) 416 8 25 19", "txtResponse 64 56 377 251", "TextCal 360 328 137 19",
                       "Frame1 56 312 241 41", "functOption(2) 8 72 57 17", "StatusBar1 0 554 549 17"}
        << QStringList{"Avg", "TotalDiff", "Option3"};
    // clang-format on
}

void MainWindowTest::layout() {
    QFETCH(WindowVariant, variant);
    QFETCH(QSize, client);
    QFETCH(QStringList, spotChecks);
    QFETCH(QStringList, options);
    frmMain window(variant);
    showActive(&window);
    QCOMPARE(window.findChild<QWidget*>("frmMain.client")->size(), client);
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QCOMPARE(window.windowIcon().availableSizes().size(), variant.iconResource.isEmpty() ? 0 : 6);
    QCOMPARE(window.windowTitle(), variant.caption);

    // Every control of the design is there, inside its container, and overlaps no other
    // control of that container unless one holds the other.
    // A row is one control (index -1) or an element of an array (its index); no two share a name.
    QSet<QString> names;
    for (const MenuItemDesign& item : variant.menus) {
        QVERIFY(item.ref.index >= -1 && !names.contains(controlObjectName(item.ref)));
        names << controlObjectName(item.ref);
    }
    QList<QWidget*> controls;
    for (const ControlDesign& design : variant.controls) {
        QVERIFY(design.ref.index >= -1 && !names.contains(controlObjectName(design.ref)));
        names << controlObjectName(design.ref);
        if (design.kind == ControlKind::Timer) {
            continue;
        }
        QWidget* control = window.findChild<QWidget*>(controlObjectName(design.ref));
        QVERIFY2(control && control->isVisible(), qPrintable(design.ref.name));
        controls << control;
        const QRect inside = control->parentWidget()->rect();
        QVERIFY2(inside.contains(control->geometry()), qPrintable(control->objectName()));
    }
    // (A label may reach a pixel into its field, as "Response:" does in the design; the
    // status bar is docked over the bottom of the form.)
    for (QWidget* a : controls) {
        for (QWidget* b : controls) {
            const QRect both = a->geometry().intersected(b->geometry());
            if (a != b && a->parentWidget() == b->parentWidget() && both.width() > 1 &&
                both.height() > 1 && a->objectName() != "StatusBar1" &&
                b->objectName() != "StatusBar1") {
                QVERIFY2(a->geometry().contains(b->geometry()) ||
                             b->geometry().contains(a->geometry()),
                         qPrintable(a->objectName() + " overlaps " + b->objectName()));
            }
        }
    }
    for (const QString& check : spotChecks) {
        const QStringList f = check.split(' ');
        QWidget* control = window.findChild<QWidget*>(f[0]);
        QVERIFY2(control, qPrintable(f[0]));
        QCOMPARE(control->geometry(),
                 QRect(f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt()));
    }
    // A frame's caption sits in a gap of its etched border, which runs on right up to it.
    auto* frame = qobject_cast<QGroupBox*>(window.controls().functOption[0]->parentWidget());
    const QImage look = frame->grab().toImage();
    const int line = frame->fontMetrics().height() / 2;
    const int gap = 6 + frame->fontMetrics().horizontalAdvance(frame->title()) + 4;
    const QColor back = frame->palette().color(QPalette::Window);
    // (Wine's offscreen platform finds no font: no caption to look at.)
    QVERIFY(gap >= look.width() ||
            (look.pixelColor(0, line + 9) != back && look.pixelColor(5, line) != back &&
             look.pixelColor(6, line) == back && look.pixelColor(gap - 1, line) == back &&
             look.pixelColor(gap, line) != back));
    for (int i = 0; i <= 2; ++i) {
        QCOMPARE(window.controls().functOption[i]->text(), options[i]);
        QCOMPARE(window.controls().functOption[i]->isChecked(), i == variant.startMethod);
    }

    // Tab visits every control that takes the focus once, starting at the first hex field.
    QCOMPARE(QApplication::focusWidget(), window.controls().txtHEX[0]);
    QSet<QWidget*> focusable;
    for (QWidget* control : controls) {
        if (control->focusPolicy() & Qt::TabFocus) {
            focusable << control;
        }
    }
    QList<QWidget*> visited;
    QWidget* next = window.controls().txtHEX[0];
    do {
        if (focusable.contains(next)) {
            QVERIFY2(!visited.contains(next), qPrintable(next->objectName()));
            visited << next;
        }
        next = next->nextInFocusChain();
    } while (next != window.controls().txtHEX[0] && visited.size() <= focusable.size());
    QCOMPARE(visited.size(), focusable.size());
    qsizetype last = -1; // and in the design's order
    for (const ControlRef& ref : variant.tabOrder) {
        const qsizetype at = visited.indexOf(window.findChild<QWidget*>(controlObjectName(ref)));
        QVERIFY2(at < 0 || at > last, qPrintable(controlObjectName(ref)));
        last = std::max(last, at);
    }
}

void MainWindowTest::startUp() {
    const frmMainControls& ui = m_window->controls();
    QCOMPARE(
        QStringList({ui.TextR->text(), ui.TextG->text(), ui.TextB->text(), ui.TextCal->text()}),
        QStringList({"R", "G", "B", "Text1"}));
    QCOMPARE(QStringList({ui.StatusBar1Panels[1]->text(), ui.StatusBar1Panels[2]->text(),
                          ui.StatusBar1Panels[3]->text(), m_window->menus().mnuConnect->text()}),
             QStringList({"Disconnected", "COM1", "9600,N,8,1", "&Connect"}));
    QVERIFY(!ui.btnSend[0]->isEnabled() && !ui.btnSend[1]->isEnabled() && !ui.Timer1->isActive());
    QCOMPARE(checkedItems(), (QStringList{"mnuCom(1)", "mnuDataBSel(8)", "mnuParitySel(2)",
                                          "mnuSpeedSel(5)", "mnuStopSel(0)"}));

    // Each Clear empties its own field and no other.
    for (int index = 0; index <= 2; ++index) {
        for (QLineEdit* hex : ui.txtHEX) {
            hex->setText("AB");
        }
        ui.txtTextOut->setText("hello");
        ui.txtResponse->append(u"R=3712");
        QTest::mouseClick(ui.btnClear[index], Qt::LeftButton);
        QCOMPARE(ui.txtHEX[11]->text().isEmpty() && ui.txtHEX[0]->text().isEmpty(), index == 0);
        QCOMPARE(ui.txtTextOut->text().isEmpty(), index == 1);
        QCOMPARE(ui.txtResponse->text().isEmpty(), index == 2);
    }
    QVERIFY(m_boxes.isEmpty());
}

void MainWindowTest::helpBox() {
    m_window->menus().mnuHelpSel[0]->trigger();
    m_window->menus().mnuHelpSel[1]->trigger();
    frmMain tolvek(tolvekVariant());
    tolvek.setMessagePresenter([this](QWidget*, const MessageBoxRequest& r) { m_boxes << r; });
    tolvek.mnuHelpSel_Click(1);
    using B = MessageButtons;
    using I = MessageIcon;
    QCOMPARE(m_boxes,
             (QList<MessageBoxRequest>{
                 {"Basic Communications Program what you see is what you get.", "Help", B::OkOnly,
                  I::Information},
                 {"Zel_Connect Version " ZEL_VERSION, "Help About", B::OkOnly, I::None},
                 {"Basic Communications Program Version 0.91", "Help About", B::OkOnly, I::None}}));
}

void MainWindowTest::noticeDoesNotWait() {
    showQtNotice(m_window.get(),
                 {"first", "Zel_Connect", MessageButtons::OkOnly, MessageIcon::Warning});
    showQtNotice(m_window.get(),
                 {"<b>a\r\nb</b>", "Title", MessageButtons::OkOnly, MessageIcon::Warning});
    const QList<QMessageBox*> open = m_window->findChildren<QMessageBox*>();
    QCOMPARE(open.size(), 1); // replaced, not stacked
    QVERIFY(open[0]->isVisible() && !open[0]->isModal() && open[0]->windowTitle() == "Title");
    QCOMPARE(open[0]->text(), QStringLiteral("<b>a\nb</b>"));
    QCOMPARE(open[0]->textFormat(), Qt::PlainText);
}

void MainWindowTest::settingItemsApplyWhatTheySay() {
    // Every line-setting item puts what its caption says into the settings, and only that.
    const frmMainMenus& menus = m_window->menus();
    QLabel* settings = m_window->controls().StatusBar1Panels[3];
    const QList<QPair<QMenu*, int>> fields = {
        {menus.mnuSpeed, 0}, {menus.mnuParity, 1}, {menus.mnuDataB, 2}, {menus.mnuStop, 3}};
    QStringList speeds;
    for (const auto& [menu, field] : fields) {
        for (QAction* item : menu->actions()) {
            const QString before = settings->text();
            item->trigger();
            QString caption = item->text().remove(u'&').remove(u',');
            if (field == 1) {
                caption = caption.left(1);
            }
            QStringList expected = before.split(u',');
            expected[field] = caption;
            QCOMPARE(settings->text(), expected.join(u','));
            item->trigger(); // again: it keeps its mark, and it is the only one
            const QList<QAction*> items = menu->actions();
            QVERIFY(item->isChecked() && std::count_if(items.begin(), items.end(), [](QAction* a) {
                                             return a->isChecked();
                                         }) == 1);
            if (field == 0) {
                speeds << caption;
            }
        }
    }
    QCOMPARE(speeds, QString("110 300 600 1200 2400 9600 14400 19200 28800 38400 56000 128000 "
                             "256000")
                         .split(' '));
    QVERIFY(!m_window->serialControl().PortOpen());
    // Handlers called with an index outside their menu do nothing.
    const QStringList checked = checkedItems();
    m_window->mnuSpeedSel_Click(13);
    m_window->mnuDataBSel_Click(3);
    m_window->mnuCom_Click(0);
    QCOMPARE(checkedItems(), checked);
    for (int port : {3, 2}) {
        menus.mnuCom[port]->trigger();
        QCOMPARE(m_window->controls().StatusBar1Panels[2]->text(),
                 QStringLiteral("COM%1").arg(port));
    }
    QVERIFY(m_boxes.isEmpty());
}

void MainWindowTest::enterClicksTheFocusedButton() {
    showActive(m_window.get());
    for (QPushButton* button : m_window->findChildren<QPushButton*>()) { // all of the design's
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
    showActive(m_window.get());
    QMenuBar* bar = m_window->menuBar();
    // Alt pressed and released, then the letter: Connect is chosen at once (no port here).
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Alt);
    QTRY_VERIFY(bar->hasFocus());
    QTest::keyClick(bar, Qt::Key_C);
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY(m_boxes[0].prompt.startsWith("Com1 is not available."));
    QCOMPARE(QApplication::focusWidget(), m_window->controls().txtTextOut);
    // A menu with items opens as before, and the letter does not choose anything in it.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Alt);
    QTRY_VERIFY(bar->hasFocus());
    QTest::keyClick(bar, Qt::Key_S);
    QTRY_VERIFY(m_window->menus().mnuSettings->isVisible());
    m_window->menus().mnuSettings->close();
    QCOMPARE(m_boxes.size(), 1);
}

void MainWindowTest::commandLine() {
    // The arguments, then what they ask for: the window (W), help, version, ports, or a usage
    // error (E), which names what it refuses, here the last word. Qt's own options, with one
    // dash or two and with their values, are left to Qt. "/?" is how Windows asks for help.
    // clang-format off
    const QStringList rows{
        "|W", "-reverse|W", "--reverse|W", "-stylesheet dark.qss|W", "-style=fusion|W",
        "-style Fusion|W", "-platform xcb -display :1 -geometry 600x500+0+0|W",
        "-session 10ab -widgetcount|W", "-qwindowtitle Sensor -qwindowicon zel.png -name zel|W",
        "-platformtheme gtk3 -nograb|W", "--help|H", "-h|H", "-help|H", "--ports -h|H", "/?|H",
        "--version /?|H", "--version|V", "-v|V", "--ports|P", "-platform offscreen --ports|P",
        "--frobnicate|E", "-vh|E", "--version --frobnicate|E", "sensor.txt|E", "/? sensor.txt|E",
        "-platform|E"};
    // clang-format on
    for (const QString& row : rows) {
        const QStringList words = row.section('|', 0, 0).split(' ', Qt::SkipEmptyParts);
        const CommandLineChoice choice = parseCommandLine(QStringList{"Zel_Connect"} + words);
        const bool error = row.endsWith('E');
        QVERIFY2(int(choice.action) == QStringLiteral("WHVPE").indexOf(row.back()) &&
                     choice.error.isEmpty() != error &&
                     (!error || choice.error.contains(QString(words.last()).remove(u'-'))),
                 qPrintable(row + ": " + choice.error));
    }
}

void MainWindowTest::endingSignalsComeThroughTheEventLoop() {
#ifdef Q_OS_UNIX
    // Ignored signals stay ignored (a program started with nohup); the others come as received().
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGHUP, SIG_DFL);
    const auto openBefore = openDescriptors();
    {
        const TerminationSignals ending;
        QSignalSpy received(&ending, &TerminationSignals::received);
        for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
            ::raise(number);
        }
        QTRY_COMPARE(received.size(), 2);
        QCOMPARE(received[0][0].toInt(), SIGTERM);
        QCOMPARE(received[1][0].toInt(), SIGHUP);
    }
    QCOMPARE(openDescriptors(), openBefore); // both ends of the pipe closed
    QVERIFY(std::signal(SIGHUP, SIG_DFL) == SIG_DFL && std::signal(SIGINT, SIG_DFL) == SIG_IGN);
#else
    QSKIP("Windows programs end by their window's close");
#endif
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"

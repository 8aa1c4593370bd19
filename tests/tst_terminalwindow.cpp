// The terminal on the window of Zel_Connect over a pseudo-terminal: what the hex fields and
// the text line put on the line, what the device's readings do to the fields, the chart and
// the log, no reading across a close and bytes queued before it still sent, received
// control characters that can be seen, and a line taller than the response field read row
// by row.
#include "cellfont.h"
#include "devicewindow.h"
#include "linelayout.h"
#include "sampleplot.h"
#include "zelconnectwindow.h"

#include <QClipboard>
#include <QProgressDialog>

#include <numeric>

/// Runs a function before each timer event of what it watches.
struct BeforeTimer : QObject {
    explicit BeforeTimer(std::function<void()> run) : run(std::move(run)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        return event->type() == QEvent::Timer && (run(), false);
    }
    std::function<void()> run;
};

class TerminalWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { w = std::make_unique<DeviceWindow<ZelConnectWindow>>(); }
    void cleanup() { w.reset(); }

    void hexFieldsGoOutInOneWrite_data();
    void hexFieldsGoOutInOneWrite();
    void textLine();
    void readingsEvaluatedPlottedAndLogged();
    void userTurningToAFieldSeesTheLatestText();
    void caretAtTheEndAfterEveryEvent();
    void closeSendsWhatWasQueuedAndEndsTheReadings_data();
    void closeSendsWhatWasQueuedAndEndsTheReadings();
    void bytesThatCannotGoOutAreReported_data();
    void bytesThatCannotGoOutAreReported();
    void controlCharactersAreVisible();
    void responseFieldAsItIsUsed();
    void tallLineShownRowByRow_data();
    void tallLineShownRowByRow();
    void scrolledBackViewKeepsItsRowThroughATrim();

private:
    QLineEdit* textLineField() const { return w->window->controls().txtTextOut; }
    std::unique_ptr<DeviceWindow<ZelConnectWindow>> w;
};

void TerminalWindowTest::hexFieldsGoOutInOneWrite_data() {
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QStringList>("shown"); // after the focus left the fields
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("a, g, gh, abc")
        << QStringList{"a", "g", "gh", "abc"} << QStringList{"0A", "00", "", "AB"}
        << QByteArray("\x0a\x00\xab", 3);
    QTest::newRow("nothing") << QStringList{} << QStringList{} << QByteArray();
}

void TerminalWindowTest::hexFieldsGoOutInOneWrite() {
    QFETCH(QStringList, typed);
    QFETCH(QStringList, shown);
    QFETCH(QByteArray, bytes);
    w->showActive();
    QVERIFY(w->connectPort());
    for (int i = 0; i < typed.size(); ++i) {
        QLineEdit* field = w->window->controls().txtHEX[i];
        field->setText("99"); // the focus selects it: typing replaces
        field->setFocus();
        QTest::keyClicks(field, typed[i]);
    }
    // Send takes the focus as a click does: the last field is tidied too.
    QTest::mouseClick(w->window->controls().btnSend[0], Qt::LeftButton);
    for (int i = 0; i < shown.size(); ++i) {
        QCOMPARE(w->window->controls().txtHEX[i]->text(), shown[i]);
    }
    QCOMPARE(w->readDevice(), bytes);
    QVERIFY(w->boxes.isEmpty() && w->notices.isEmpty());
}

void TerminalWindowTest::textLine() {
    w->showActive();
    QLineEdit* line = textLineField();
    // Enter while closed sends nothing and still empties the line.
    QTest::keyClicks(line, "ABC");
    QTest::keyClick(line, Qt::Key_Enter);
    QCOMPARE(line->text(), QString());
    QVERIFY(w->connectPort());
    QTest::keyClicks(line, "ABC");
    QTest::keyClick(line, Qt::Key_Return);
    QCOMPARE(line->text(), QString());
    QCOMPARE(w->readDevice(), QByteArray("ABC"));
    // One byte a character; beyond 255 a "?". The button keeps the line.
    line->setText(QString::fromUtf8("\xc3\xa9t\xc3\xa9 5\xe2\x82\xac")); // "été 5€"
    QTest::mouseClick(w->window->controls().btnSend[1], Qt::LeftButton);
    QCOMPARE(line->text().size(), 6);
    QCOMPARE(w->readDevice(), QByteArray("\xe9t\xe9 5?"));
    // Focus selects the whole line, so that typing replaces it.
    line->setText("hello there");
    w->window->controls().txtHEX[0]->setFocus();
    QTest::mouseClick(line, Qt::LeftButton, {}, QPoint(20, line->height() / 2));
    QTRY_COMPARE(line->selectedText(), QStringLiteral("hello there"));
}

void TerminalWindowTest::readingsEvaluatedPlottedAndLogged() {
    QVERIFY(w->connectPort());
    const QByteArray line = "R=3712 G=3590 B=3880\r\n";
    QVERIFY(w->device->write(line));
    QTRY_COMPARE(w->window->controls().TextB->text(), QStringLiteral("3880"));
    QCOMPARE(w->window->controls().TextCal->text(), QStringLiteral("Text1")); // not yet
    // At the next "R" the sample is evaluated, plotted and logged, then red starts again.
    QVERIFY(w->device->write(line));
    QTRY_COMPARE(w->window->samplePlot().model().strokeCount(), std::size_t(1));
    QTRY_COMPARE(w->window->controls().TextCal->text(), QStringLiteral("343.5"));
    QCOMPARE(w->window->controls().lblColor->text(), QStringLiteral("Grid1"));
    QTRY_COMPARE(w->log(), QByteArray("0, R=3712 G=3590 B=3880\r\n"));
    QCOMPARE(w->response(), QStringLiteral("R=3712 G=3590 B=3880\nR=3712 G=3590 B=3880\n"));
}

void TerminalWindowTest::userTurningToAFieldSeesTheLatestText() {
    w->showActive();
    w->window->receive("R=0100G=0200B=0300\r\n");
    QCOMPARE(w->window->controls().TextR->text(), QStringLiteral("R")); // shown with the frame
    QLineEdit* red = w->window->controls().TextR;
    red->setFocus();
    QCOMPARE(red->text(), QStringLiteral("0100"));
    QTest::keyClick(red, Qt::Key_End);
    QTest::keyClick(red, Qt::Key_5);
    QCOMPARE(w->window->sampleText(frmMain::SampleText::Red), QStringLiteral("01005"));
}

void TerminalWindowTest::caretAtTheEndAfterEveryEvent() {
    w->showActive();
    QVERIFY(w->connectPort());
    ResponseView* response = w->window->controls().txtResponse;
    QVERIFY(w->device->write(QByteArray("line\r\n").repeated(40)));
    QTRY_VERIFY(response->verticalScrollBar()->maximum() > 0);
    // The user scrolls back to read; the next event brings the view to the end again.
    response->verticalScrollBar()->setValue(0);
    QVERIFY(w->device->write("second"));
    QTRY_VERIFY(response->text().endsWith("second"));
    QVERIFY(response->atEnd());
}

void TerminalWindowTest::closeSendsWhatWasQueuedAndEndsTheReadings_data() {
    QTest::addColumn<bool>("speed");
    QTest::newRow("Disconnect, Connect") << false; // closing the window: tst_endtoend
    QTest::newRow("speed changed while connected") << true;
}

void TerminalWindowTest::closeSendsWhatWasQueuedAndEndsTheReadings() {
    QFETCH(bool, speed);
    QVERIFY(w->connectPort() && w->device->write("R=1000 G=1000 B=1000\r\nR=3700 G=37"));
    QTRY_COMPARE(w->window->sampleText(frmMain::SampleText::Green), QStringLiteral("37"));
    QTRY_COMPARE(w->log(), QByteArray("0, R=1000 G=1000 B=1000\r\n"));
    const QByteArray line = QByteArray(3000, 'x') + "END";
    textLineField()->setText(QString::fromLatin1(line));
    w->window->btnSend_Click(1); // queued: no event loop runs before the close
    if (speed) {
        w->window->mnuSpeedSel_Click(7);
        QCOMPARE(w->comm().Settings(), QStringLiteral("19200,N,8,1"));
    } else {
        w->window->mnuConnect_Click();
        w->window->mnuConnect_Click();
    }
    QVERIFY(w->comm().PortOpen());
    QCOMPARE(w->readDevice(), line);
    // The device goes on where it was: neither "3790" nor red from before with green and
    // blue from after may make a sample. (A lost device: tst_faults and tst_connection.)
    QVERIFY(w->device->write("90 G=1111 B=2222 R=3000 G=2000 B=1000 R="));
    QTRY_COMPARE(w->window->samplePlot().model().strokeCount(), std::size_t(2));
    QTRY_COMPARE(w->log(), QByteArray("0, R=1000 G=1000 B=1000\r\n100, R=3000 G=2000 B=1000\r\n"));
    QVERIFY(w->boxes.isEmpty() && w->notices.isEmpty());
}

void TerminalWindowTest::bytesThatCannotGoOutAreReported_data() {
    QTest::addColumn<bool>("closeWindow");
    QTest::newRow("Disconnect: a notice") << false;
    QTest::newRow("window closed: a box before it goes") << true;
}

void TerminalWindowTest::bytesThatCannotGoOutAreReported() {
    QFETCH(bool, closeWindow);
    QVERIFY(w->connectPort());
    textLineField()->setText(QString(30000, u'x'));
    for (int i = 0; i < 3; ++i) {
        w->window->btnSend_Click(1);
    }
    QTest::qWait(300); // the device reads nothing: its terminal fills up
    // While the rest goes out the window lives, and a small box says so and can give up.
    QString progress;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (auto* box = w->window->findChild<QProgressDialog*>(); box && box->isVisible()) {
            progress = box->labelText();
            box->findChild<QPushButton*>()->click();
        }
    });
    watch.start(20);
    if (closeWindow) {
        w->window->close();
    } else {
        w->window->mnuConnect_Click();
    }
    QVERIFY(QRegularExpression("^Sending \\d+ bytes to Com1...$").match(progress).hasMatch());
    // What could not go out is told, also when the window goes: then in a box it waits for.
    const QList<MessageBoxRequest>& told = closeWindow ? w->boxes : w->notices;
    QCOMPARE(told.size() + (closeWindow ? w->notices : w->boxes).size(), 1);
    const QRegularExpressionMatch unsent =
        QRegularExpression("^Could not send to Com1:\n(\\d+) bytes could not be sent")
            .match(told.value(0).prompt);
    QVERIFY2(unsent.hasMatch(), qPrintable(told.value(0).prompt));
    QCOMPARE(w->readDevice().size() + unsent.captured(1).toInt(), 90000);
    if (closeWindow) {
        return;
    }
    // To a device that has gone: told, not only as a lost device.
    w->notices.clear();
    QVERIFY(w->connectPort());
    w->unplug();
    textLineField()->setText("hello");
    w->window->btnSend_Click(1);
    QTRY_VERIFY(!w->notices.isEmpty());
    QVERIFY(w->notices[0].prompt.startsWith("Could not send to Com1:"));
}

void TerminalWindowTest::controlCharactersAreVisible() {
    // Whatever fonts the machine has: each of these must leave a mark of its own, and so must
    // the text after a box.
    const auto rendered = [](const QByteArray& bytes) {
        ResponseView view;
        view.resize(120, 40);
        view.append(QByteArrayView(bytes));
        view.refresh();
        return view.grab().toImage();
    };
    const QImage blank = rendered("");
    const QList<QByteArray> bytes = {
        QByteArray(1, '\0'), "\x1b", "\x7f", "\x85", "\x9b", "\xa0", "\xad", "\x1bx", "\x1by"};
    QList<QImage> images;
    for (const QByteArray& byte : bytes) {
        images << rendered(byte);
        QVERIFY2(images.back() != blank, byte.toHex().constData());
        for (qsizetype i = 0; i + 1 < images.size(); ++i) {
            QVERIFY2(images[i] != images.back(), (bytes[i] + " " + byte).toHex().constData());
        }
    }
    QCOMPARE(rendered(" "), blank);
    // The names in a smaller type: a box holds its name, in little more room than the name
    // in the text's own type.
    const CellFont cells(QApplication::font());
    const qreal nul = QFontMetricsF(cells.font()).horizontalAdvance("NUL");
    QVERIFY(cells.advance(0) > 0.75 * nul && cells.advance(0) < nul + 5);
    // Boxes fill each row, also the rows after one broken inside them.
    QCOMPARE(LineLayout(QByteArray(6, '\x01'), cells, 2 * cells.advance(1)).rowCount(), 3);
    // Copied, no two bytes become the same character.
    QByteArray every(256, '\0');
    std::iota(every.begin(), every.end(), '\0');
    ResponseView view;
    view.append(QByteArrayView(every));
    view.selectAll();
    view.copy();
    const QString copied = QApplication::clipboard()->text();
    QCOMPARE(QSet<QChar>(copied.begin(), copied.end()).size(), 256);
    view.resize(120, 4); // squeezed to no height: nothing shown, and no harm
    QCOMPARE(view.grab().size(), QSize(120, 4));
}

void TerminalWindowTest::responseFieldAsItIsUsed() {
    ResponseView view;
    view.resize(300, 120);
    showActive(&view);
    const QImage blank = view.grab().toImage();
    for (int i = 0; i < 40; ++i) {
        view.append(QByteArrayView(QStringLiteral("line %1\n").arg(i).toLatin1()));
    }
    view.append(QByteArrayView("first line\nsecond line\nthird"));
    view.refresh();
    QWidget* area = view.viewport();
    QScrollBar* bar = view.verticalScrollBar();
    const int h = QFontMetrics(view.font()).height();
    const auto at = [&](int fromBottom, const QString& before) { // kMargin is 3
        return QPoint(3 + QFontMetrics(view.font()).horizontalAdvance(before),
                      area->height() - 3 - h * (fromBottom + 1) + 2);
    };
    // The newest line stands whole at the bottom. Dragged with the left button; extended
    // with Shift; the right button selects nothing.
    QVERIFY(view.atEnd() && bar->value() == bar->maximum());
    QTest::mousePress(area, Qt::LeftButton, {}, at(2, ""));
    QTest::mouseMove(area, at(1, "second"));
    QTest::mouseRelease(area, Qt::LeftButton, {}, at(1, "second"));
    QCOMPARE(view.selectedText(), QStringLiteral("first line\nsecond"));
    QTest::mouseClick(area, Qt::LeftButton, Qt::ShiftModifier, at(0, "th"));
    QCOMPARE(view.selectedText(), QStringLiteral("first line\nsecond line\nth"));
    QTest::mouseClick(area, Qt::RightButton, {}, at(1, "sec"));
    QCOMPARE(view.selectedText(), QStringLiteral("first line\nsecond line\nth"));
    // Selected: the highlight behind, the text in its own colour.
    const QImage shown = view.grab().toImage();
    const auto pixel = [&](const QPoint& p) {
        return shown.pixelColor(area->mapTo(&view, p));
    };
    QCOMPARE(pixel(at(2, "first") + QPoint(1, 2)), view.palette().color(QPalette::Highlight));
    QCOMPARE(pixel(at(0, "third") + QPoint(8, 2)), view.palette().color(QPalette::Base));
    bool highlightedText = false;
    for (int x = 0; x < QFontMetrics(view.font()).horizontalAdvance("second"); ++x) {
        for (int y = 0; y < h - 4; ++y) {
            highlightedText |= pixel(at(1, "") + QPoint(x, y - 2)) ==
                               view.palette().color(QPalette::HighlightedText);
        }
    }
    QVERIFY(highlightedText);
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("first line\nsecond line\nth"));
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view.selectedText(), view.text());
    // Within one line, only what was dragged over.
    QTest::mousePress(area, Qt::LeftButton, {}, at(1, "sec"));
    QTest::mouseMove(area, at(1, "second l"));
    QTest::mouseRelease(area, Qt::LeftButton, {}, at(1, "second l"));
    QCOMPARE(view.selectedText(), QStringLiteral("ond l"));
    // Scrolled to the top by the bar, it shows the top; paged down again, the end.
    const QImage atEnd = area->grab().toImage();
    bar->setValue(0);
    QVERIFY(area->grab().toImage() != atEnd);
    for (int page = 0; page < 20 && !view.atEnd(); ++page) {
        QTest::keyClick(&view, Qt::Key_PageDown);
    }
    QCOMPARE(area->grab().toImage(), atEnd);
    // Emptied, it shows nothing.
    view.clear();
    view.refresh();
    QCOMPARE(view.grab().toImage(), blank);
}

void TerminalWindowTest::tallLineShownRowByRow_data() {
    QTest::addColumn<QString>("way");
    QTest::addColumn<int>("direction"); // 1 down from the top, -1 up from the end
    for (const char* way : {"arrow key", "page key", "wheel", "scroll bar arrow", "slider"}) {
        QTest::newRow(qPrintable(way + QString(" down"))) << QString(way) << 1;
        QTest::newRow(qPrintable(way + QString(" up"))) << QString(way) << -1;
    }
    QTest::newRow("selection dragged past the bottom") << "selection" << 1;
}

void TerminalWindowTest::tallLineShownRowByRow() {
    QFETCH(QString, way);
    QFETCH(int, direction);
    ResponseView view;
    view.resize(300, 120);
    showActive(&view);
    constexpr qsizetype kTall = 8; // where the line of 2048 boxes begins, on the third row
    view.append(QByteArrayView("one\ntwo\n" + QByteArray(2048, '\x01') +
                               QByteArray("\nshort").repeated(12)));
    view.refresh();
    QWidget* area = view.viewport();
    QScrollBar* bar = view.verticalScrollBar();
    const int h = QFontMetrics(view.font()).height();
    const QPoint topLeft(3, 4);
    const QPoint bottomRight(area->width() - 1, area->height() - 4);
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    // Shift+click extends the selection from the start: its length is where the click went.
    view.selectAll();
    const auto offsetAt = [&](QPoint point) {
        QTest::mouseClick(area, Qt::LeftButton, Qt::ShiftModifier, point);
        return view.selectedText().size();
    };
    const qsizetype perRow = offsetAt({bottomRight.x(), 4 + 2 * h}) - kTall;
    const bool down = direction > 0;
    QTest::keyClick(&view, down ? Qt::Key_Home : Qt::Key_End, Qt::ControlModifier);
    if (way == "selection") {
        // From the first pixel below on, a few rows a tick (not pages) however far it goes.
        std::vector<qsizetype> atTick;
        BeforeTimer ticks([&] { atTick.push_back(view.selectedText().size()); });
        view.installEventFilter(&ticks);
        const QPoint lastPixel(bottomRight.x(), area->height() - 1);
        QTest::mousePress(area, Qt::LeftButton, {}, lastPixel);
        QTest::mouseMove(area, lastPixel + QPoint(0, 1));
        QTRY_VERIFY(!view.selectedText().isEmpty());
        QTest::mouseMove(area, bottomRight + QPoint(0, 40));
        QTRY_VERIFY(view.selectedText().size() > 1024);
        QTest::mouseMove(area, bottomRight); // back inside: the text stands still
        QTest::mouseRelease(area, Qt::LeftButton, {}, bottomRight);
        QVERIFY2(view.selectedText().size() < 1536, qPrintable(view.selectedText()));
        for (std::size_t tick = 1; tick < atTick.size(); ++tick) {
            QVERIFY(atTick[tick] - atTick[tick - 1] < (area->height() - 6) / h * perRow);
        }
        return;
    }
    const auto step = [&] {
        if (way.endsWith("key")) {
            QTest::keyClick(&view, way == "arrow key" ? (down ? Qt::Key_Down : Qt::Key_Up)
                                                      : (down ? Qt::Key_PageDown : Qt::Key_PageUp));
        } else if (way == "wheel") {
            QWheelEvent wheel(topLeft, area->mapToGlobal(topLeft), {}, {0, -120 * direction},
                              Qt::NoButton, {}, Qt::NoScrollPhase, false);
            QApplication::sendEvent(area, &wheel);
        } else if (way == "scroll bar arrow") {
            bar->triggerAction(down ? QAbstractSlider::SliderSingleStepAdd
                                    : QAbstractSlider::SliderSingleStepSub);
        } else {
            bar->setValue(bar->value() + direction);
        }
    };
    // A step within the tall line moves by rows (a page: the rows that fit), so that every
    // row of it comes into view on the way.
    const int rows = way == "page key" ? (area->height() - 6) / h
                     : way == "wheel"  ? QApplication::wheelScrollLines()
                     : way == "slider" ? 0
                                       : 1;
    std::vector<bool> seen(view.text().size() + 1);
    qsizetype top = -1;
    for (int steps = 0; steps < 5000; ++steps) {
        const qsizetype before = std::exchange(top, offsetAt(topLeft));
        std::fill(seen.begin() + top, seen.begin() + offsetAt(bottomRight), true);
        if (rows > 0 && std::min(top, before) >= kTall && std::max(top, before) < kTall + 2048 &&
            steps > 1 && !view.atEnd()) {
            QCOMPARE(std::abs(top - before), rows * perRow);
        }
        if (down ? view.atEnd() : bar->value() == 0) {
            break;
        }
        const int value = bar->value();
        step();
        QVERIFY(bar->value() * direction >= value * direction);
    }
    QCOMPARE(bar->value(), down ? bar->maximum() : 0);
    QCOMPARE(std::find(seen.begin() + kTall, seen.begin() + kTall + 2048, false) - seen.begin(),
             kTall + 2048);
    // At the end the view follows new text; scrolled back, it stays.
    view.append(QByteArrayView("\nnewest"));
    view.refresh();
    QCOMPARE(offsetAt(down ? bottomRight : topLeft), down ? view.text().size() : 0);
}

void TerminalWindowTest::scrolledBackViewKeepsItsRowThroughATrim() {
    ResponseView view;
    view.resize(300, 120);
    showActive(&view);
    const QByteArray filler = QByteArray("filler\n").repeated(ResponseView::kLimit * 3 / 4 / 7);
    view.append(QByteArrayView(filler + QByteArray(2048, '\x01') + "\nend\n"));
    view.refresh();
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(&view, Qt::Key_PageUp);
    }
    const auto topFrom = [&](QChar character) { // where the top row begins, from a character on
        view.selectAll();
        QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(3, 4));
        return view.selectedText().size() - view.text().indexOf(character);
    };
    const qsizetype top = topFrom(QChar(0x2401));
    QVERIFY(top > 0);
    // Older lines dropped, the same row of the tall line stays at the top; the top line
    // dropped, the oldest line kept comes to the top.
    view.append(QByteArrayView(filler).first(ResponseView::kKept * 3 / 4));
    view.refresh();
    QVERIFY(view.characterCount() < filler.size());
    QCOMPARE(topFrom(QChar(0x2401)), top);
    view.append(QByteArrayView(filler));
    view.refresh();
    QCOMPARE(topFrom(u'f'), 0);
}

QTEST_MAIN(TerminalWindowTest)
#include "tst_terminalwindow.moc"

// What a screen reader finds in both windows: a name for every control a user can reach, the
// response field as text to read by lines, words and characters, and the changes it is told.
// The events need a platform that listens (AT-SPI on Linux: tests/a11y-session starts a bus);
// without one those cases skip.
#include "responseview.h"
#include "tolvekwindow.h"
#include "zelconnectwindow.h"

#include <QAccessible>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Told {
    QAccessible::Event type;
    QObject* object;
    int position = -1;
    QString text;
};
QList<Told> told; // what the window raised since the last take

void listen(QAccessibleEvent* event) {
    Told entry{event->type(), event->object(), -1, {}};
    if (event->type() == QAccessible::TextInserted) {
        const auto* inserted = static_cast<QAccessibleTextInsertEvent*>(event);
        entry.position = inserted->changePosition();
        entry.text = inserted->textInserted();
    } else if (event->type() == QAccessible::TextRemoved) {
        const auto* removed = static_cast<QAccessibleTextRemoveEvent*>(event);
        entry.position = removed->changePosition();
        entry.text = removed->textRemoved();
    }
    told << entry;
}

void collect(QAccessibleInterface* node, QList<QAccessibleInterface*>& all) {
    all << node;
    for (int i = 0; i < node->childCount(); ++i) {
        collect(node->child(i), all);
    }
}

QString describe(QAccessibleInterface* node) {
    return QStringLiteral("%1 (role %2, name \"%3\")")
        .arg(node->object() ? node->object()->objectName() : QString())
        .arg(int(node->role()))
        .arg(node->text(QAccessible::Name));
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void everyControlNamedAndReachable_data();
    void everyControlNamedAndReachable();
    void chartScrollsFromTheKeyboard();
    void responseFieldReadsAsText();
    void screenReaderToldWhatTheFieldShows();

private:
    bool listening() const;
    void nextFrame(frmMain& window);
    QTemporaryDir m_dir;
};

void AccessibilityTest::initTestCase() {
    QAccessible::installUpdateHandler(listen);
    QAccessible::setActive(true);
    // The bridge says whether a screen reader listens once the session bus has answered.
    QTest::qWait(200);
}

bool AccessibilityTest::listening() const {
    return QAccessible::isActive();
}

void AccessibilityTest::nextFrame(frmMain& window) {
    QSignalSpy frame(&window, &frmMain::frameDue);
    window.requestFrame();
    QVERIFY(frame.wait(2000));
}

void AccessibilityTest::everyControlNamedAndReachable_data() {
    QTest::addColumn<bool>("tolvek");
    QTest::addColumn<int>("controls");
    QTest::newRow("Zel_Connect") << false << 32;
    QTest::newRow("Tolvek") << true << 26;
}

void AccessibilityTest::everyControlNamedAndReachable() {
    QFETCH(bool, tolvek);
    QFETCH(int, controls);
    std::unique_ptr<frmMain> window;
    if (tolvek) {
        window = std::make_unique<TolvekWindow>();
    } else {
        window = std::make_unique<ZelConnectWindow>(m_dir.filePath("app.txt"));
    }
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    QList<QAccessibleInterface*> all;
    collect(QAccessible::queryAccessibleInterface(window.get()), all);
    QSet<QString> seen;
    int focusable = 0;
    for (QAccessibleInterface* node : all) {
        const QAccessible::State state = node->state();
        // Whatever a user works with can be reached from the keyboard.
        switch (node->role()) {
        case QAccessible::PushButton:
        case QAccessible::RadioButton:
        case QAccessible::EditableText:
        case QAccessible::ScrollBar:
            // Also the response field's, which follows its field: a reader names it.
            QVERIFY2(state.invisible || !node->text(QAccessible::Name).isEmpty(),
                     qPrintable(describe(node)));
            [[fallthrough]];
        case QAccessible::Chart:
            if (!node->object() || !node->object()->objectName().isEmpty()) {
                QVERIFY2(state.focusable, qPrintable(describe(node)));
            }
            break;
        default:
            break;
        }
        if (!state.focusable || state.invisible || node->object() == window.get()) {
            continue;
        }
        ++focusable;
        const QString name = node->text(QAccessible::Name);
        QVERIFY2(!name.isEmpty(), qPrintable(describe(node)));
        // Two with one name are told apart by what they do.
        const QString heard = name + u'|' + node->text(QAccessible::Description);
        QVERIFY2(!seen.contains(heard), qPrintable(describe(node)));
        seen.insert(heard);
    }
    QCOMPARE(focusable, controls);
}

void AccessibilityTest::chartScrollsFromTheKeyboard() {
    ZelConnectWindow window(m_dir.filePath("app.txt"));
    QWidget* chart = window.controls().DrawBox;
    QScrollBar* bar = window.controls().DrawSclBar;
    QTest::keyClick(chart, Qt::Key_End);
    QCOMPARE(bar->value(), bar->maximum());
    // Left goes towards the start, on the chart and on its scroll bar.
    QTest::keyClick(chart, Qt::Key_Left);
    QCOMPARE(bar->value(), bar->maximum() - bar->singleStep());
    QTest::keyClick(bar, Qt::Key_Left);
    QCOMPARE(bar->value(), bar->maximum() - 2 * bar->singleStep());
    QTest::keyClick(chart, Qt::Key_Right);
    QCOMPARE(bar->value(), bar->maximum() - bar->singleStep());
    QTest::keyClick(chart, Qt::Key_Home);
    QCOMPARE(bar->value(), bar->minimum());
}

void AccessibilityTest::responseFieldReadsAsText() {
    ZelConnectWindow window(m_dir.filePath("app.txt"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.receive("One. Two three?\r\nR=0100\tG\x01 end\r\n\r\nlast");
    nextFrame(window);
    ResponseView* view = window.controls().txtResponse;
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(view);
    QCOMPARE(field->text(QAccessible::Name), QStringLiteral("Device answers"));
    QVERIFY(field->state().readOnly && field->state().multiLine);
    QAccessibleTextInterface* text = field->textInterface();
    QVERIFY(text);
    const QString shown = view->text();
    QVERIFY(shown.contains(QChar(0x2401))); // the control byte as it is seen
    QCOMPARE(text->characterCount(), shown.size());
    QCOMPARE(text->text(0, text->characterCount()), shown);
    int start = 0;
    int end = 0;
    QCOMPARE(text->textAtOffset(shown.indexOf("last") + 2, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("last"));

    // Every question by pieces answers as Qt's reading of the whole text does, which is what
    // the field's answers stand in for.
    for (const auto boundary :
         {QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
          QAccessible::LineBoundary, QAccessible::ParagraphBoundary, QAccessible::NoBoundary}) {
        for (int offset = 0; offset <= shown.size(); ++offset) {
            // (Qt's own reading does not come back from a question at the very end.)
            for (int which = -1; which <= (offset < shown.size() ? 1 : -1); ++which) {
                int start = 0, end = 0, wantStart = 0, wantEnd = 0;
                const auto ask = [&](QAccessibleTextInterface* t, bool reference, int* s, int* e) {
                    if (which < 0) {
                        return reference ? t->QAccessibleTextInterface::textBeforeOffset(
                                               offset, boundary, s, e)
                                         : t->textBeforeOffset(offset, boundary, s, e);
                    }
                    if (which > 0) {
                        return reference ? t->QAccessibleTextInterface::textAfterOffset(
                                               offset, boundary, s, e)
                                         : t->textAfterOffset(offset, boundary, s, e);
                    }
                    return reference
                               ? t->QAccessibleTextInterface::textAtOffset(offset, boundary, s, e)
                               : t->textAtOffset(offset, boundary, s, e);
                };
                const QString got = ask(text, false, &start, &end);
                const QString want = ask(text, true, &wantStart, &wantEnd);
                const QString where = QStringLiteral("boundary %1, offset %2, which %3")
                                          .arg(boundary)
                                          .arg(offset)
                                          .arg(which);
                QVERIFY2(got == want, qPrintable(where + ": \"" + got + "\" != \"" + want + '"'));
                QVERIFY2(want.isEmpty() || (start == wantStart && end == wantEnd),
                         qPrintable(where + QStringLiteral(": %1-%2 != %3-%4")
                                                .arg(start)
                                                .arg(end)
                                                .arg(wantStart)
                                                .arg(wantEnd)));
            }
        }
    }

    // Where a character stands and the character at a place agree, for the lines in view.
    const int lastLine = int(shown.lastIndexOf(u'\n')) + 1;
    for (int offset = lastLine; offset < shown.size(); ++offset) {
        const QRect rect = text->characterRect(offset);
        QVERIFY(!rect.isEmpty());
        QCOMPARE(text->offsetAtPoint(rect.center() - QPoint(rect.width() / 4, 0)), offset);
    }
    // A selection made by assistive technology is the field's.
    text->setSelection(0, 5, 14);
    QCOMPARE(view->selectedText(), shown.mid(5, 9));
    QCOMPARE(text->cursorPosition(), 14);
    QCOMPARE(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    QCOMPARE(std::pair(start, end), std::pair(5, 14));
}

void AccessibilityTest::screenReaderToldWhatTheFieldShows() {
    if (!listening()) {
        QSKIP("No screen reader can listen here (no accessibility bus): events not checked.");
    }
    ZelConnectWindow window(m_dir.filePath("app.txt"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ResponseView* view = window.controls().txtResponse;
    nextFrame(window);
    told.clear();
    QString heard; // the field as the events tell it
    const auto check = [&](int inserts) {
        nextFrame(window);
        int inserted = 0;
        for (const Told& event : std::exchange(told, {})) {
            if (event.object != view) {
                continue;
            }
            if (event.type == QAccessible::TextInserted) {
                heard.insert(event.position, event.text);
                ++inserted;
            } else if (event.type == QAccessible::TextRemoved) {
                QCOMPARE(heard.mid(event.position, event.text.size()), event.text);
                heard.remove(event.position, event.text.size());
            }
        }
        QCOMPARE(inserted, inserts);
        QCOMPARE(heard, view->text());
    };
    // Many reads in one frame are one event.
    for (int i = 0; i < 50; ++i) {
        window.receive(QByteArray("answer ") + QByteArray::number(i) + "\r\n");
    }
    check(1);
    // Past the limit the oldest lines go; the reader is told, then of what came.
    const QByteArray line = QByteArray(1000, 'x') + "\r\n";
    for (int i = 0; i < 2500; ++i) {
        window.receive(line);
    }
    check(1);
    window.receive("half a li");
    check(1);
    window.receive("ne\r\n");
    check(1);
    QTest::mouseClick(window.controls().btnClear[2], Qt::LeftButton);
    window.receive("after\r\n");
    check(1);
    check(0);
}

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"

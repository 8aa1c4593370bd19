// The terminal: the hex fields and the text line going out, the device's text coming in.
#include "frmmain.h"
#include "responseview.h"
#include "transmit.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

namespace {

// Focus that comes back with the window, or goes to a menu, is not a move between controls.
bool movesBetweenControls(Qt::FocusReason reason) {
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

bool clicksOnEnter(const QKeyEvent& key) {
    return (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) && !key.isAutoRepeat() &&
           (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

void selectAllOf(QLineEdit* field) {
    field->setSelection(0, static_cast<int>(field->text().size()));
}

} // namespace

void frmMain::send(const QString& txtin) {
    if (!MSComm1.PortOpen()) {
        return;
    }
    if (const CommError error = MSComm1.setOutput(terminal::lineBytes(txtin))) {
        reportSendFailure(error.description);
    }
}

void frmMain::reportSendFailure(const QString& description) {
    const MessageBoxRequest request{
        QStringLiteral("Could not send to Com%1:\n%2").arg(MSComm1.CommPort()).arg(description),
        m_variant.applicationTitle, MessageButtons::OkOnly, MessageIcon::Warning};
    // A notice would go with a closing window before anyone could read it.
    if (m_unloading) {
        MsgBox(request);
    } else {
        Notice(request);
    }
}

void frmMain::btnSend_Click(qint16 index) {
    switch (index) {
    case 0: {
        QStringList fields;
        for (const QLineEdit* field : m_controls.txtHEX) {
            fields << (field ? field->text() : QString());
        }
        send(QString::fromLatin1(terminal::hexMessage(fields)));
        break;
    }
    case 1:
        if (m_controls.txtTextOut) {
            send(m_controls.txtTextOut->text());
        }
        break;
    default:
        break;
    }
}

void frmMain::txtHEX_GotFocus(qint16 index) {
    if (QLineEdit* field = m_controls.txtHEX[index]) {
        selectAllOf(field);
    }
}

void frmMain::txtHEX_LostFocus(qint16 index) {
    if (QLineEdit* field = m_controls.txtHEX[index]) {
        field->setText(terminal::normalizedHexField(field->text()));
    }
}

void frmMain::txtTextOut_GotFocus() {
    if (m_controls.txtTextOut) {
        selectAllOf(m_controls.txtTextOut);
    }
}

void frmMain::txtTextOut_KeyPress(qint16& KeyAscii) {
    if (KeyAscii != 13) {
        return;
    }
    btnSend_Click(1);
    if (m_variant.enterEmptiesTextLine) {
        btnClear_Click(1);
    }
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (auto* button = qobject_cast<QPushButton*>(watched); button && clicksOnEnter(*key)) {
            // As on Windows, where these programs come from: Enter clicks the focused button.
            button->click();
            return true;
        }
        if (watched == menuBar() && chooseTopLevelCommand(*key)) {
            return true;
        }
    }
    if (event->type() == QEvent::ToolTip && watched == m_controls.StatusBar1Panels[2]) {
        m_controls.StatusBar1Panels[2]->setToolTip(portPanelToolTip());
        return QMainWindow::eventFilter(watched, event); // the label shows it
    }
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (!field) {
        return QMainWindow::eventFilter(watched, event);
    }
    if (m_held && (field == m_controls.TextR || field == m_controls.TextG ||
                   field == m_controls.TextB || field == m_controls.TextCal)) {
        // The user turns to a field: it must show the texts the program works with first.
        switch (event->type()) {
        case QEvent::FocusIn:
        case QEvent::KeyPress:
        case QEvent::InputMethod:
        case QEvent::MouseButtonPress:
        case QEvent::ContextMenu:
        case QEvent::Drop:
            showHeldTexts();
            break;
        default:
            break;
        }
    }
    const auto hexIndex = [this, field]() -> int {
        for (int i = 0; i <= 11; ++i) {
            if (m_controls.txtHEX[i] == field) {
                return i;
            }
        }
        return -1;
    };
    switch (event->type()) {
    case QEvent::FocusIn: {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (!movesBetweenControls(reason)) {
            break;
        }
        const auto gotFocus = [this, field, hexIndex] {
            if (field == m_controls.txtTextOut) {
                txtTextOut_GotFocus();
            } else if (const int index = hexIndex(); index >= 0) {
                txtHEX_GotFocus(static_cast<qint16>(index));
            }
        };
        gotFocus();
        if (reason == Qt::MouseFocusReason) {
            // The click that brought the focus places the caret after this; select again.
            QTimer::singleShot(0, field, gotFocus);
        }
        break;
    }
    case QEvent::FocusOut:
        if (movesBetweenControls(static_cast<QFocusEvent*>(event)->reason())) {
            if (const int index = hexIndex(); index >= 0) {
                txtHEX_LostFocus(static_cast<qint16>(index));
            }
        }
        break;
    case QEvent::KeyPress:
        if (field == m_controls.txtTextOut) {
            const auto* key = static_cast<QKeyEvent*>(event);
            qint16 code = 0;
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                code = 13;
            } else if (!key->text().isEmpty()) {
                code = static_cast<qint16>(key->text().front().unicode());
            }
            txtTextOut_KeyPress(code); // the key still reaches the field
        }
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool frmMain::chooseTopLevelCommand(const QKeyEvent& key) {
    // The menu bar has the keyboard after Alt was pressed and released. Qt only highlights a
    // command without a menu for its letter; Windows chooses it, as Alt+letter does.
    if (key.modifiers() & ~(Qt::AltModifier | Qt::ShiftModifier)) {
        return false;
    }
    const QKeySequence pressed(QKeyCombination(Qt::AltModifier, Qt::Key(key.key())));
    QAction* command = nullptr;
    for (QAction* item : menuBar()->actions()) {
        if (item->isVisible() && QKeySequence::mnemonic(item->text()) == pressed) {
            if (command || item->menu()) {
                return false; // a menu, or more than one item: Qt's own behaviour
            }
            command = item;
        }
    }
    if (!command || !command->isEnabled()) {
        return false;
    }
    QKeyEvent leave(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(menuBar(), &leave);
    command->trigger();
    return true;
}

void frmMain::MSComm1_OnComm() {
    if (MSComm1.CommEvent() == MSComm::comEvReceive) {
        receive(MSComm1.Input());
    }
    if (m_controls.txtResponse) {
        m_controls.txtResponse->caretToEnd();
        requestFrame();
    }
}

QWidget* frmMain::sampleTextWidget(SampleText which) const {
    switch (which) {
    case SampleText::Red:
        return m_controls.TextR;
    case SampleText::Green:
        return m_controls.TextG;
    case SampleText::Blue:
        return m_controls.TextB;
    case SampleText::Result:
        return m_controls.TextCal;
    case SampleText::ColorName:
        return m_controls.lblColor;
    }
    return nullptr;
}

QString frmMain::sampleText(SampleText which) const {
    if (m_held) {
        switch (which) {
        case SampleText::Red:
            return m_held->readings.red;
        case SampleText::Green:
            return m_held->readings.green;
        case SampleText::Blue:
            return m_held->readings.blue;
        case SampleText::Result:
            if (m_held->result) {
                return *m_held->result;
            }
            break;
        case SampleText::ColorName:
            if (m_held->colorName) {
                return *m_held->colorName;
            }
            break;
        }
    }
    QWidget* widget = sampleTextWidget(which);
    if (const auto* field = qobject_cast<QLineEdit*>(widget)) {
        return field->text();
    }
    if (const auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    return QString();
}

void frmMain::setSampleText(SampleText which, const QString& text) {
    if (m_held) {
        switch (which) {
        case SampleText::Red:
            m_held->readings.red = text;
            return;
        case SampleText::Green:
            m_held->readings.green = text;
            return;
        case SampleText::Blue:
            m_held->readings.blue = text;
            return;
        case SampleText::Result:
            m_held->result = text;
            return;
        case SampleText::ColorName:
            m_held->colorName = text;
            return;
        }
    }
    QWidget* widget = sampleTextWidget(which);
    if (auto* field = qobject_cast<QLineEdit*>(widget); field && field->text() != text) {
        field->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget); label && label->text() != text) {
        label->setText(text);
    }
}

void frmMain::holdSampleTexts() {
    if (m_held) {
        return;
    }
    m_held = HeldTexts{
        {sampleText(SampleText::Red), sampleText(SampleText::Green), sampleText(SampleText::Blue)},
        std::nullopt,
        std::nullopt};
    requestFrame();
}

void frmMain::requestFrame() {
    if (m_frame->isActive()) {
        return;
    }
    const bool busy = m_sinceFrame.isValid() && m_sinceFrame.elapsed() < 2 * kBusyFrameMs;
    m_frame->start(busy ? kBusyFrameMs : kFrameMs);
}

void frmMain::showFrame() {
    m_sinceFrame.start();
    showHeldTexts();
    if (m_controls.txtResponse) {
        m_controls.txtResponse->refresh();
    }
    emit frameDue();
}

void frmMain::showHeldTexts() {
    if (!m_held) {
        return;
    }
    HeldTexts held = std::move(*m_held);
    m_held.reset();
    setSampleText(SampleText::Red, held.readings.red);
    setSampleText(SampleText::Green, held.readings.green);
    setSampleText(SampleText::Blue, held.readings.blue);
    if (held.result) {
        setSampleText(SampleText::Result, *held.result);
    }
    if (held.colorName) {
        setSampleText(SampleText::ColorName, *held.colorName);
    }
}

void frmMain::receive(const QByteArray& input) {
    holdSampleTexts();
    m_receiving = true;
    m_capture.feed(input, m_held->readings, m_captureHooks);
    m_receiving = false;
    // The field is appended once per read, however many characters came.
    if (m_controls.txtResponse) {
        m_controls.txtResponse->append(QByteArrayView(m_responseText.lines(input)));
    }
    receiveEventHandled();
}

void frmMain::MSComm1_StreamEnded() {
    // A reading cut off by the close must not be completed by the next device's bytes.
    holdSampleTexts();
    m_capture.endStream(m_held->readings);
}

void frmMain::redMarkerReceived(const terminal::SampleFields&) {}

void frmMain::receivedCharacterHandled(const terminal::SampleFields&, unsigned) {}

void frmMain::receiveEventHandled() {}

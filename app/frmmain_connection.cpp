// Port choice, line settings, Connect and the status display.
#include "connectionstatus.h"
#include "frmmain.h"
#include "settingsmerge.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>

void frmMain::mnuConnect_Click() {
    if (MSComm1.WaitingForDevice()) {
        // Disconnect, while the port waits for its device to come back: stop waiting.
        MSComm1.stopWaiting();
    } else if (MSComm1.PortOpen()) {
        closePort();
    } else if (const CommError error = MSComm1.setPortOpen(true)) {
        reportPortNotAvailable(MSComm1.CommPort(), error);
    }
    UpdateStatus();
    if (m_controls.txtTextOut) {
        m_controls.txtTextOut->setFocus();
    }
}

void frmMain::closePort() {
    if (!MSComm1.closeMayWait()) {
        (void)MSComm1.setPortOpen(false);
        return;
    }
    // Bytes still queued go out first; at a low speed that takes a while. The window stays
    // alive meanwhile but takes no input, since the port is closing; a small box shows how
    // far it is and can give up.
    m_closingPort = true;
    const QPointer<QWidget> focused = QApplication::focusWidget();
    centralWidget()->setEnabled(false);
    menuBar()->setEnabled(false);
    QPointer<QProgressDialog> progress;
    const auto showProgress = [this, &progress](qint64 remaining, qint64 total, qint64 elapsed) {
        if (!progress && elapsed >= kFlushProgressAfterMs) {
            const QString what = total > 0 ? QStringLiteral("%1 bytes").arg(total)
                                           : QStringLiteral("the last bytes");
            progress = new QProgressDialog(QStringLiteral("Sending %1 to %2...")
                                               .arg(what, serial::comName(MSComm1.CommPort())),
                                           QStringLiteral("Cancel"), 0, total > 0 ? 100 : 0, this);
            progress->setWindowTitle(m_variant.applicationTitle);
            progress->setWindowModality(Qt::WindowModal);
            progress->setMinimumDuration(0);
            progress->setAutoReset(false);
            connect(progress, &QProgressDialog::canceled, &MSComm1, &MSComm::cancelFlush);
            progress->show();
        }
        if (progress && progress->wasCanceled()) {
            MSComm1.cancelFlush(); // Escape, or the box was closed
        } else if (progress && total > 0) {
            progress->setValue(int(100 * (total - remaining) / total));
        }
    };
    const QMetaObject::Connection watching =
        connect(&MSComm1, &MSComm::FlushProgress, this, showProgress);
    (void)MSComm1.setPortOpen(false);
    disconnect(watching);
    delete progress;
    centralWidget()->setEnabled(true);
    menuBar()->setEnabled(true);
    if (focused) {
        focused->setFocus(); // where the user was typing before the port closed
    }
    m_closingPort = false;
    if (std::exchange(m_closeAfterPort, false)) {
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    }
    closeWhenIdle();
}

void frmMain::UpdateStatus() {
    const serial::StatusDisplay display =
        serial::statusDisplay(MSComm1.PortOpen(), MSComm1.WaitingForDevice(), MSComm1.CommPort(),
                              MSComm1.Settings(), MSComm1.AppearedElsewhere());
    if (QLabel* panel = m_controls.StatusBar1Panels[1]) {
        panel->setText(display.connection);
        // Else the reason a device went away is put here by MSComm1_PortLost.
        panel->setToolTip(MSComm1.WaitingText());
    }
    if (m_menus.mnuConnect) {
        m_menus.mnuConnect->setText(display.connectCaption);
    }
    for (QPushButton* send : m_controls.btnSend) {
        if (send) {
            send->setEnabled(display.sendEnabled);
        }
    }
    if (QLabel* panel = m_controls.StatusBar1Panels[2]) {
        panel->setText(display.port);
    }
    if (QLabel* panel = m_controls.StatusBar1Panels[3]) {
        panel->setText(display.settings);
    }
    if (m_controls.StatusBar1 && (m_statusNotice || !display.notice.isEmpty())) {
        if (!m_statusNotice) {
            // In the status bar's free room right of the panels, which keep their widths.
            m_statusNotice = new QLabel(m_controls.StatusBar1);
            m_statusNotice->setObjectName(QStringLiteral("StatusBar1.Notice"));
            m_statusNotice->setAccessibleDescription(QStringLiteral("Notice"));
            m_controls.StatusBar1->addWidget(m_statusNotice, 1);
        }
        m_statusNotice->setText(display.notice);
        m_statusNotice->setToolTip(display.notice);
        m_statusNotice->setVisible(!display.notice.isEmpty());
    }
}

void frmMain::reportPortNotAvailable(int port, const CommError& error) {
    MsgBox({serial::portNotAvailablePrompt(port, error.description), m_variant.applicationTitle,
            MessageButtons::OkOnly, MessageIcon::None});
}

void frmMain::mnuCom_Click(qint16 index) {
    if (!decltype(m_menus.mnuCom)::contains(index)) {
        return;
    }
    const auto moveCheckMark = [this, index] {
        for (QAction* item : m_menus.mnuCom) {
            if (item) {
                item->setChecked(false);
            }
        }
        if (QAction* item = portMenuItem(index)) {
            item->setChecked(true);
        }
    };
    const int oldPort = MSComm1.CommPort();
    if (MSComm1.PortOpen()) {
        closePort();
        (void)MSComm1.setCommPort(index);
        if (const CommError error = MSComm1.setPortOpen(true)) {
            reportPortNotAvailable(index, error);
            (void)MSComm1.setCommPort(oldPort);
        } else {
            moveCheckMark();
        }
    } else {
        (void)MSComm1.setCommPort(index);
        moveCheckMark();
    }
    UpdateStatus();
}

template <int First, int Last>
void frmMain::selectSetting(ControlArray<QAction*, First, Last>& items, qint16 index) {
    // An index outside the menu would take every check mark away.
    if (!ControlArray<QAction*, First, Last>::contains(index) || !items[index]) {
        return;
    }
    QString fragment;
    for (int i = First; i <= Last; ++i) {
        if (QAction* item = items[i]) {
            item->setChecked(i == index);
            if (i == index) {
                fragment = item->data().toString();
            }
        }
    }
    ApplySettings(fragment);
}

void frmMain::mnuSpeedSel_Click(qint16 index) {
    selectSetting(m_menus.mnuSpeedSel, index);
}

void frmMain::mnuDataBSel_Click(qint16 index) {
    selectSetting(m_menus.mnuDataBSel, index);
}

void frmMain::mnuParitySel_Click(qint16 index) {
    selectSetting(m_menus.mnuParitySel, index);
}

void frmMain::mnuStopSel_Click(qint16 index) {
    selectSetting(m_menus.mnuStopSel, index);
}

void frmMain::ApplySettings(const QString& fragment) {
    const bool wasOpen = MSComm1.PortOpen();
    if (wasOpen) {
        closePort();
    }
    (void)MSComm1.setSettings(serial::mergeSettingsFragment(fragment, MSComm1.Settings()));
    if (wasOpen) {
        // The port may refuse the new setting: say so as Connect does; it stays closed.
        if (const CommError error = MSComm1.setPortOpen(true)) {
            reportPortNotAvailable(MSComm1.CommPort(), error);
        }
    }
    UpdateStatus();
}

void frmMain::MSComm1_PortLost(const QString& reason) {
    UpdateStatus();
    if (QLabel* panel = m_controls.StatusBar1Panels[1]; panel && !MSComm1.WaitingForDevice()) {
        panel->setToolTip(reason);
    }
}

void frmMain::showPortDevices() {
    // Which device each Com n is now: adapters come and go while the program runs.
    const serial::PortsNow ports = MSComm1.lookUpPorts();
    const QList<int> further = serial::furtherMenuPorts(ports.numbered(), MSComm1.CommPort());
    for (int port = serial::kDesignedPorts + 1; port <= serial::kHighestPort; ++port) {
        if (QAction* item = m_menus.mnuCom[port]; item && !further.contains(port)) {
            m_menus.mnuCom[port] = nullptr;
            delete item;
        }
    }
    for (const int port : further) {
        portMenuItem(port);
    }
    if (m_furtherPorts) {
        m_furtherPorts->setVisible(!further.isEmpty());
    }
    for (int port = 1; port <= serial::kHighestPort; ++port) {
        if (QAction* item = m_menus.mnuCom[port]) {
            const serial::PortChoice choice = ports.choice(port);
            item->setToolTip(serial::portSummary(port, choice));
            if (port > serial::kDesignedPorts) {
                item->setText(serial::furtherPortCaption(port, choice));
            }
        }
    }
}

QAction* frmMain::portMenuItem(int port) {
    if (m_menus.mnuCom[port] || port <= serial::kDesignedPorts || !m_menus.mnuPort) {
        return m_menus.mnuCom[port];
    }
    // Below Com 1 to Com 4 and a separator, in the order of their numbers.
    if (!m_furtherPorts) {
        m_furtherPorts = m_menus.mnuPort->addSeparator();
    }
    m_furtherPorts->setVisible(true);
    QAction* before = nullptr;
    for (int next = port + 1; next <= serial::kHighestPort && !before; ++next) {
        before = m_menus.mnuCom[next];
    }
    auto* item = new QAction(QStringLiteral("Com %1").arg(port), m_menus.mnuPort);
    item->setObjectName(QStringLiteral("mnuCom(%1)").arg(port));
    item->setCheckable(true);
    m_menus.mnuPort->insertAction(before, item);
    connectComItem(item, port);
    m_menus.mnuCom[port] = item;
    return item;
}

QString frmMain::portPanelToolTip() const {
    const int port = MSComm1.CommPort();
    if (MSComm1.PortOpen()) {
        return MSComm1.openedDevice();
    }
    return serial::portSummary(port, MSComm1.lookUpPorts().choice(port));
}

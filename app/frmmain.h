#pragma once

#include "messagebox.h"
#include "mscomm.h"
#include "windowcontrols.h"
#include "windowlayout.h"

#include <QMainWindow>

/// The main window of both programs. Its controls, their texts, check marks and enabled
/// states are the program's state; the handlers are named after the control and event.
class frmMain : public QMainWindow {
    Q_OBJECT

public:
    explicit frmMain(WindowVariant variant, const PictureBoxFactory& makePictureBox = {},
                     QWidget* parent = nullptr);
    ~frmMain() override;

    const frmMainControls& controls() const { return m_controls; }
    const frmMainMenus& menus() const { return m_menus; }
    const WindowVariant& variant() const { return m_variant; }
    MSComm& serialControl() { return MSComm1; }

    /// Where modal boxes go; the real QMessageBox unless a test puts a recorder here.
    void setMessagePresenter(MessagePresenter presenter);

    /// Where notices go; a box that does not wait, unless a test puts a recorder here.
    void setNoticePresenter(NoticePresenter presenter);

    /// Tells the user something without stopping the program (a log that cannot be
    /// written): the window keeps working while the notice is shown.
    void Notice(const MessageBoxRequest& request);

    /// True while a modal box waits for the user.
    bool isShowingBox() const { return m_boxesOpen > 0; }

    // Start-up, shutdown, Clear and Help.
    void Form_Load();
    void Form_Unload(qint16& cancel);
    void btnClear_Click(qint16 index);
    void mnuHelpSel_Click(qint16 index);

    // Port and line settings, connection.
    void mnuCom_Click(qint16 index);
    void mnuSpeedSel_Click(qint16 index);
    void mnuDataBSel_Click(qint16 index);
    void mnuParitySel_Click(qint16 index);
    void mnuStopSel_Click(qint16 index);
    void mnuConnect_Click();

signals:
    /// The last open modal box was closed: what waited for it may run now.
    void boxClosed();

protected:
    void closeEvent(QCloseEvent* event) override;

    /// A modal box. The serial control's events wait until it is closed, so no handler
    /// runs inside another one.
    void MsgBox(const MessageBoxRequest& request);

private:
    void connectHandlers();
    void UpdateStatus();
    void ApplySettings(const QString& fragment);
    template <int First, int Last>
    void selectSetting(ControlArray<QAction*, First, Last>& items, qint16 index);
    void reportPortNotAvailable(int port, const CommError& error);
    void MSComm1_PortLost(const QString& reason);

    WindowVariant m_variant;
    MSComm MSComm1;
    frmMainControls m_controls;
    frmMainMenus m_menus;
    MessagePresenter m_presentMessage = showQtMessageBox;
    NoticePresenter m_presentNotice = showQtNotice;
    int m_boxesOpen = 0;
};

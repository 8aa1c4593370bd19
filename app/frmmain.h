#pragma once

#include "capture.h"
#include "messagebox.h"
#include "mscomm.h"
#include "responsetext.h"
#include "windowcontrols.h"
#include "windowlayout.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <optional>

/// The main window of both programs. Its controls, their texts, check marks and enabled
/// states are the program's state; the handlers are named after the control and event.
class QKeyEvent;
class QTimer;

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

    /// After the window closed: work it started still waits for the system (a log's folder
    /// that does not answer), so the program must end without waiting for it or tidying up
    /// under it.
    virtual bool leavesWorkBehind() const { return false; }

    /// The texts that every sample passes through.
    enum class SampleText { Red, Green, Blue, Result, ColorName };

    /// The text of TextR, TextG, TextB, TextCal or lblColor as the handlers see it. Once the
    /// device has sent something, these texts are held here and reach the widgets with the
    /// next display frame (or at once when the user turns to one of the fields), so that a
    /// burst of a thousand samples updates each widget once, not a thousand times.
    QString sampleText(SampleText which) const;
    void setSampleText(SampleText which, const QString& text);
    /// Brings the widgets up to date with the held texts now.
    void showHeldTexts();

    /// What the device changes is shown once per display frame, however often it changes in
    /// between: a thousand samples a second must not mean a thousand repaints. Asks for the
    /// next frame; frameDue() is emitted when it comes.
    void requestFrame();
    /// A change after a quiet time shows within kFrameMs; while the device keeps talking,
    /// frames come every kBusyFrameMs: a stream that fills the field faster than anyone reads
    /// it needs no more, and every frame costs a repaint.
    static constexpr int kFrameMs = 33;
    static constexpr int kBusyFrameMs = 100;

    /// While queued bytes go out before a close, a progress box shows after this long.
    static constexpr int kFlushProgressAfterMs = 300;

    /// True while a modal box waits for the user.
    bool isShowingBox() const { return m_boxesOpen > 0; }

    /// The program is asked from outside to end (SIGTERM, SIGINT, SIGHUP): the window closes
    /// as when the user closes it, once. A box still waiting for the user is closed first, since
    /// nobody is there to answer it, and no other box opens; a port that is closing finishes
    /// first.
    void closeOnRequest();

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

    // Terminal: sending.
    /// Writes the whole string, one byte per character, while the port is open; otherwise
    /// does nothing.
    void send(const QString& txtin);
    void btnSend_Click(qint16 index);
    void txtHEX_GotFocus(qint16 index);
    void txtHEX_LostFocus(qint16 index);
    void txtTextOut_GotFocus();
    void txtTextOut_KeyPress(qint16& KeyAscii);

    // Terminal: receiving.
    void MSComm1_OnComm();
    /// What MSComm1_OnComm does with the bytes of one receive event: show them, capture the
    /// readings, and have every finished sample evaluated.
    void receive(const QByteArray& input);
    /// True while receive() handles the bytes of one read.
    bool receiving() const { return m_receiving; }

signals:
    /// The last open modal box was closed: what waited for it may run now.
    void boxClosed();
    /// A display frame: show what changed since the last one.
    void frameDue();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    /// An "R" arrived; the fields still hold the sample it ends. What a program does with a
    /// finished sample goes here.
    virtual void redMarkerReceived(const terminal::SampleFields& fields);
    /// A received character other than a line break has been handled completely.
    /// changed: the fields it changed (terminal::CaptureListener::Changed).
    virtual void receivedCharacterHandled(const terminal::SampleFields& fields, unsigned changed);
    /// The received text of one event has been handled and the fields show its result.
    virtual void receiveEventHandled();
    /// True when the reading fields mix readings from before and after a close of the port:
    /// such a sample is not evaluated.
    bool sampleSpansClose() const { return m_capture.sampleSpansClose(); }

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
    /// The Port menu's items name their devices, looked up when the menu opens; below Com 1
    /// to Com 4 it lists the further ports present.
    void showPortDevices();
    /// The item of Settings > Port for port n, made for a further port when it is missing.
    QAction* portMenuItem(int port);
    void connectComItem(QAction* item, int port);
    /// The port panel's tooltip: the device, looked up when the user points at the panel.
    QString portPanelToolTip() const;
    void MSComm1_StreamEnded();
    /// Closes the port; what is still queued for it goes out first, within a bound, with a
    /// progress box when that takes a while.
    void closePort();
    /// Bytes the user sent did not reach the line: a notice that does not stop the program.
    void reportSendFailure(const QString& description);
    /// Alt released, then a letter: a command of the menu bar without a menu is chosen.
    bool chooseTopLevelCommand(const QKeyEvent& key);
    QWidget* sampleTextWidget(SampleText which) const;
    void holdSampleTexts();
    void showFrame();
    /// Carries out closeOnRequest once no box waits and the port is not closing.
    void closeWhenIdle();

    /// The sample's texts while a receive event runs.
    struct HeldTexts {
        terminal::SampleFields readings;
        std::optional<QString> result;
        std::optional<QString> colorName;
    };

    class CaptureHooks : public terminal::CaptureListener {
    public:
        explicit CaptureHooks(frmMain& window) : m_window(window) {}
        void redMarker(const terminal::SampleFields& fields) override {
            m_window.redMarkerReceived(fields);
        }
        void characterHandled(const terminal::SampleFields& fields, unsigned changed) override {
            m_window.receivedCharacterHandled(fields, changed);
        }

    private:
        frmMain& m_window;
    };

    WindowVariant m_variant;
    MSComm MSComm1;
    frmMainControls m_controls;
    frmMainMenus m_menus;
    MessagePresenter m_presentMessage = showQtMessageBox;
    NoticePresenter m_presentNotice = showQtNotice;
    int m_boxesOpen = 0;
    bool m_closingPort = false;    // queued bytes are going out before a close
    bool m_closeAfterPort = false; // the window was closed meanwhile
    bool m_unloading = false;      // the window is closing: notices would go with it
    bool m_closeRequested = false; // by a signal: no box is waited for any more
    terminal::ResponseText m_responseText;
    terminal::CaptureMachine m_capture;
    std::optional<HeldTexts> m_held;
    bool m_receiving = false;
    QTimer* m_frame = nullptr;         // a child: the next display frame
    QAction* m_furtherPorts = nullptr; // the separator above the further ports
    QLabel* m_statusNotice = nullptr;  // a child: beside the status panels, while it says something
    QElapsedTimer m_sinceFrame;
    CaptureHooks m_captureHooks{*this};
};

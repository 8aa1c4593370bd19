#pragma once

#include "commerror.h"
#include "deviceidentity.h"
#include "devicewatch.h"
#include "linesettings.h"
#include "portmapping.h"
#include "reacheddevice.h"
#include "serialline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <memory>
#include <optional>

/// The window's serial communications control: one port, chosen by number, driven through
/// CommPort, Settings, PortOpen, Output and Input, raising OnComm on the UI thread whenever
/// received bytes are waiting.
class MSComm : public QObject {
    Q_OBJECT

public:
    /// CommEvent while received bytes are reported.
    static constexpr int comEvReceive = 2;

    /// The buffer sizes the control reports. Qt grows its own buffers as needed, so bytes
    /// that arrive while the window is busy are kept, not dropped.
    static constexpr int InBufferSize = 1024;
    static constexpr int OutBufferSize = 512;

    /// Received bytes are taken from the port at most this often while they trickle in: a
    /// device that sends a line at a time would otherwise wake the program for every line.
    /// After a read that found much waiting, the next one comes at once, so that a burst is
    /// never held up by the pace.
    static constexpr int kReadPaceMs = 20;
    static constexpr int kMuchWaiting = 1024;
    /// Once the device has kept talking for kTalkingMs (no pause of kQuietMs), the pace is
    /// kTalkingReadPaceMs: the window then shows a frame that often anyway, and every read
    /// costs a wake-up, its handling and a log append. A pause makes it quick again. Much is
    /// then kMuchWhileTalking: more than 256000 baud brings in that time, less than a read
    /// takes at most (a terminal's buffer, 4 KB), so that a faster stream is never held back
    /// by the slower pace.
    static constexpr int kTalkingReadPaceMs = 100;
    static constexpr int kTalkingMs = 200;
    static constexpr int kQuietMs = 200;
    static constexpr int kMuchWhileTalking = 3072;

    /// While events are held (a modal box is open) the control keeps taking what the device
    /// sends, so that a driver without flow control loses nothing, but keeps only the newest
    /// kHeldLimit bytes of it; InputDropped tells how much went.
    static constexpr qsizetype kHeldLimit = 4 << 20;
    /// Input hands over at most this much at a time; OnComm comes again for the rest once the
    /// window has had its turn, so that a large backlog does not freeze it.
    static constexpr qsizetype kPortion = 64 << 10;

    /// Before the port closes, bytes still queued for it may take the time the line needs to
    /// carry them (with room to spare), but never longer than this: the window waits meanwhile.
    static constexpr int kLongestFlushMs = 10000;
    static constexpr int kFlushTickMs = 50;

    using enum CommError::Number;

    /// An open may hold the window this long; a device that takes longer (a Bluetooth port
    /// whose device is off) is opened on in the background, the port "Waiting" meanwhile,
    /// for at most kLongestOpenMs.
    static constexpr int kOpenWaitMs = 250;
    static constexpr int kLongestOpenMs = 10000;
    static constexpr int kOpenPollMs = 20;
    /// Most opens end within a few milliseconds (the device answers, or is not there): for
    /// its first kQuickOpenMs an open is looked at every kQuickOpenPollMs, so that a device
    /// that is back is open again at once.
    static constexpr int kQuickOpenMs = 40;
    static constexpr int kQuickOpenPollMs = 2;

    explicit MSComm(QObject* parent = nullptr);
    /// The control over another line than this platform's own.
    MSComm(std::unique_ptr<serial::SerialLine> line, QObject* parent = nullptr);
    ~MSComm() override;

    int CommPort() const { return m_commPort; }
    /// Only while closed; 1 to 255. While the port waits for a device, it now waits for this
    /// port's device instead, and tries it at once.
    CommError setCommPort(int port);

    /// Always four fields: speed, parity letter, data bits, stop bits ("9600,N,8,1").
    QString Settings() const;
    /// Only while closed. Takes every menu value, also those a port may not be able to do:
    /// those make opening fail. While the port waits for a device, they apply when it opens.
    CommError setSettings(const QString& settings);

    bool PortOpen() const { return m_line->isOpen(); }
    /// true opens the current port with the current settings (or fails, leaving it closed;
    /// where the device takes longer than kOpenWaitMs to answer, the port waits for it and
    /// Reconnected or OpenFailed tell the end);
    /// false closes it and drops bytes not yet read. Bytes not yet sent go out first, waiting
    /// at most the time the line needs for them (kLongestFlushMs at most) while the event
    /// loop runs (FlushProgress); SendFailed says how many could not. Either way the wait for
    /// a device ends.
    CommError setPortOpen(bool open);

    /// Bytes written with Output that have not yet left: in this control and, where the
    /// system tells, in the driver.
    qint64 OutputPending() const;

    /// True when closing the port may take a while: bytes still go out first.
    bool closeMayWait() const { return OutputPending() > 0 || m_line->drainDue(); }

    /// Gives up on the bytes still going out before a close.
    void cancelFlush() { m_flushCancelled = true; }

    /// Writes the whole string in order, one byte per character; only while open.
    CommError setOutput(const QByteArray& data);

    /// The bytes received and not yet read, up to kPortion of them; reading removes them.
    QByteArray Input();

    /// How many received bytes wait to be read.
    qsizetype InBufferCount() const { return m_received.size(); }

    /// The code of the event being raised: comEvReceive.
    int CommEvent() const { return m_commEvent; }

    /// The ports on this machine now and the Com numbers the devices keep, looked up once
    /// (again at every open, so that an adapter plugged in later is found).
    serial::PortsNow lookUpPorts() const;
    /// Where the ports are looked up; the machine's own list unless a test hands in one.
    void setPortInventory(serial::PortInventory inventory);
    /// Where the Com numbers are remembered; the user's own file unless a test hands in one.
    void setComNumbersFile(QString file) { m_numbersFile = std::move(file); }

    /// The device the port is open on, or was open on when it went away.
    QString openedDevice() const { return m_opened.device; }

    /// After the device went away while open, the port tries to open the same device again,
    /// and only that one (serial::whereToReopen), with the same settings, until it is back or
    /// the user chooses otherwise: at once when the system tells that a device appeared, and
    /// about once a second besides. Where no such notice may come, it polls: kPollMs apart
    /// at first, the pause growing to a kBackOff-th of the time waited so far, up to
    /// kRetryMs. A port chosen meanwhile is waited for instead. Message boxes do not delay it.
    bool WaitingForDevice() const { return m_waitFor != WaitFor::Nothing; }
    /// What the port waits for and why, for the user.
    QString WaitingText() const;
    /// While the port waits for a device that nothing else may stand for (an adapter without
    /// a serial number, on Windows a COM number): a device of the same kind that has appeared
    /// under another name since, for the user to choose ("a USB Serial Port appeared as
    /// COM8"); empty when none has.
    QString AppearedElsewhere() const { return m_elsewhere; }
    void stopWaiting();
    static constexpr int kPollMs = 50;
    static constexpr int kBackOff = 10;
    static constexpr int kRetryMs = 1000;
    /// The system says a device has appeared: the awaited one is tried at once. A node may
    /// appear a moment before udev lets users open it, so for kQuickRetriesMs after a notice
    /// a try that fails or finds nothing is repeated every kQuickRetryMs.
    static constexpr int kQuickRetryMs = 25;
    static constexpr int kQuickRetriesMs = 1000;
    /// What tells the port that a device has appeared; the system's own unless a test hands
    /// in one. Without notices (Wine's mapped ports), the retries alone find the device.
    void setDeviceWatch(std::unique_ptr<serial::DeviceWatch> watch);
    /// The retries' delays: the first one and the quickest poll, and the longest pause;
    /// kPollMs and kRetryMs unless a test asks for others.
    void setRetryDelays(int pollMs, int retryMs);

    /// While held (a modal box is open), OnComm and PortLost wait; bytes keep arriving into
    /// Input. Releasing the last hold raises what waited, after the current handler ends.
    void holdEvents();
    void releaseEvents();

signals:
    void OnComm();
    /// The device went away while open (cable pulled, adapter unplugged): the port is closed.
    void PortLost(const QString& reason);
    /// The port was closed, by the program or because the device went away, after the last
    /// OnComm of what came before: whatever arrives after a new open is a new stream.
    void StreamEnded();
    /// Bytes written with Output could not be sent: a write failed, or the port closed
    /// before they could go out.
    void SendFailed(const QString& description);
    /// Bytes the device sent while events were held had to be dropped (the oldest of them);
    /// StreamEnded came just before, since no reading may continue across the gap.
    void InputDropped(qint64 count);
    /// The device that went away (or the port chosen while waiting, or one slow to answer) is
    /// open now.
    void Reconnected();
    /// A device slow to answer when the port was opened could not be opened after all.
    void OpenFailed(const CommError& error);
    /// What WaitingText says changed.
    void WaitingChanged();
    /// Queued bytes are going out before a close: how many are left of how many, how long it
    /// has taken so far (total 0: only the last bytes in the hardware are awaited). Raised
    /// about every kFlushTickMs while the event loop runs.
    void FlushProgress(qint64 remaining, qint64 total, qint64 elapsedMs);

private:
    void readArrived();
    int readPace() const;
    void takeWaitingBytes();
    /// While held: the oldest bytes beyond kHeldLimit go.
    void keepNewestHeld();
    void deviceGone(const QString& reason);
    void closeLostPort();
    /// Waits, within a bound, for queued bytes to go out; returns how many did not.
    qint64 flushOutput();
    void reportUnsent(qint64 unsent);
    void raiseWaitingEvents();
    /// Raises OnComm for what waits before the next stream end; true when the handler left
    /// some of it for later.
    bool raiseReceive();
    /// How many received bytes Input may hand over: those before the next stream end.
    qsizetype beforeStreamEnd() const;
    CommError openPort();
    CommError openPort(const QList<serial::PortInfo>& present);
    /// Refuses a device that cannot be a free serial port, before it is touched.
    CommError refuseBeforeOpening(const serial::PortChoice& choice) const;
    /// Starts opening device in the background; the line opens once it has answered.
    void startOpening(const QString& device, const serial::DeviceIdentity& identity,
                      const serial::PortInfo& info);
    /// The end of the open under way, if it has come (or its time is up).
    void checkOpening();
    /// Opens the line on what the background open reached.
    CommError finishOpening();
    void openingEnded(const CommError& error);
    void retryLostDevice();
    void setNotYet(const QString& notYet);
    void setElsewhere(const QString& elsewhere);
    /// Waiting begins: the watch follows what is awaited.
    void watchPort();
    /// The watch follows awaited; where its notices may not come, the port polls.
    void watchFor(const serial::DeviceIdentity& awaited);
    /// A device blocked by requests its last connection left unended that the system no
    /// longer lists has gone: when it comes back, its driver is a new one.
    void freeIfGone(const QString& device, bool listed);
    void deviceAppeared();
    /// The delay of the next retry: quick for a while after a notice.
    int nextRetryMs() const;
    /// The ports present, for a retry: a device known by its node or name is tried without
    /// them, so the system's list, slow to read, is read again at most every retry pause
    /// while the port polls (a USB adapter is found by it: always read).
    QList<serial::PortInfo> presentForRetry();

    std::unique_ptr<serial::SerialLine> m_line;
    // The open under way off the window's thread, and what it is for.
    struct Opening {
        QString device;
        serial::DeviceIdentity identity;
        serial::PortInfo info; // what the inventory said of it
        std::unique_ptr<serial::BackgroundOpen> open;
        QElapsedTimer since;
    };
    std::optional<Opening> m_opening;
    serial::DeviceOpens m_opens{serial::reachDevice};
    bool m_userOpening = false; // the user's Connect, not a retry: a failure is told
    QTimer m_openPoll;
    bool m_lostDuringFlush = false;
    QStringList m_flushFailures; // why writes failed during the flush
    QTimer m_readPace;
    QElapsedTimer m_sinceRead;
    QElapsedTimer m_talkingSince; // since the device's last pause
    bool m_lastReadWasMuch = false;
    int m_commPort = 1;
    serial::LineSettings m_settings;
    QByteArray m_received;
    // Where in m_received a close ended a stream that has not been told yet: the loss of a
    // device is told, and the bytes after it handed over, only after the bytes before it.
    struct StreamEnd {
        qsizetype at = 0;
        QString lostReason; // empty when the port was not lost
        bool reopened = false;
    };
    std::deque<StreamEnd> m_streamEnds;
    int m_commEvent = 0;
    int m_holdDepth = 0;
    bool m_closingLostPort = false;
    bool m_flushing = false; // errors during the flush are the flush's to report
    bool m_flushCancelled = false;
    qint64 m_dropped = 0; // bytes dropped while held, not yet reported
    QString m_lostReason; // why the device went away, before the port closed
    serial::PortInventory m_inventory = serial::machinePortsWhenChanged();
    QString m_numbersFile = serial::defaultComNumbersFile();
    struct OpenedDevice {
        QString device;
        serial::DeviceIdentity identity;
        serial::PortInfo info;
    };
    OpenedDevice m_opened;
    enum class WaitFor { Nothing, Device, Port };
    WaitFor m_waitFor = WaitFor::Nothing;
    QString m_waitReason; // Device: why it went away; Port: why it did not open
    QString m_notYet;     // what keeps a device that looks like it from being opened
    QString m_elsewhere;  // a device of its kind that appeared under another name
    QList<serial::PortInfo> m_presentAtLoss;
    QList<serial::PortInfo> m_listed; // the ports present when last read while waiting
    QElapsedTimer m_listedAt;
    QTimer m_retry;
    int m_pollMs = kPollMs;
    int m_retryMs = kRetryMs;
    std::unique_ptr<serial::DeviceWatch> m_watch;
    bool m_polling = false;        // no notice may come for what is awaited
    QElapsedTimer m_waiting;       // since the wait began
    QElapsedTimer m_sinceAppeared; // the last notice while waiting
};

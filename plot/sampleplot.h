#pragma once

#include "plotmodel.h"
#include "samplelog.h"

#include <QObject>

class DrawBox;
class QTimer;
class frmMain;
struct frmMainControls;

/// The sample plot and its log on the window: PlotSample, ScrollDrawBox, the "Draw" and
/// "Clear Draw" buttons and LogSample.
class SamplePlot : public QObject {
    Q_OBJECT

public:
    /// Attaches to the window's drawing box, scroll bar and buttons; the log goes to
    /// logPath ("app.txt" beside the program unless a test says otherwise).
    SamplePlot(frmMain& window, QString logPath);

    /// Logs where SampleLog::chooseLocation says, unless another program running at the same
    /// time logs there: then to a file of its own beside it (LogClaim, taken with the first
    /// line), which the first line written there tells, naming both. In the user's data folder
    /// the log is not where the user would look for it: the first line written there tells where,
    /// and why, once for this user (remembered in the user's settings), not at every start.
    void useLocation(const SampleLog::Location& location);
    const SampleLog& log() const { return m_log; }
    const plot::PlotModel& model() const { return m_model; }

    /// Plots the value in TextCal (which the callers made sure is numeric) as the next
    /// point, after logging the sample.
    void PlotSample();
    void ScrollDrawBox();
    void cmdDraw_Click();
    void cmdClearDrawBox_Click();
    /// One log line for the previous point's x and the reading fields as they stand. While
    /// the file cannot be written, the lines wait and are tried again with the next sample
    /// and every kLogRetryMs; one notice says why when that starts, and another when they
    /// have gone in.
    void LogSample(qint64 position);
    static constexpr int kLogRetryMs = 2000;
    /// The samples a read completed, logged together once it has been handled (LogSample
    /// keeps them while the window receives).
    void logReadSamples();
    /// The window closes: lines still waiting are tried once more. What could not go in, for
    /// the user; empty when nothing is lost.
    QString logBeforeClosing();

private:
    void DrawSclBar_Change(int value);
    /// The chart changed: shown with the next display frame, not at every sample.
    void changed();
    void showFrame();
    void showScrollState();
    void retryLog();
    /// The notices of a log that fails and works again.
    void logResult(const std::optional<SampleLog::Failure>& failure, bool retried);
    /// Where the log is, when the user needs to be told.
    void tellWhereTheLogIs();

    frmMain& m_window;
    const frmMainControls& m_ui;
    DrawBox* m_drawBox = nullptr;
    plot::PlotModel m_model;
    SampleLog m_log;
    bool m_logFailing = false;    // one notice per run of failed lines
    QTimer* m_logRetry = nullptr; // a child
    QString m_announce;           // said once, with the first line written
    bool m_rememberAnnounced = false;
    QByteArray m_readLines; // of the read being received
    QString m_toldFile;     // the file claimed when the user was last told
};

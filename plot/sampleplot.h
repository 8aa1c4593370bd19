#pragma once

#include "logwriter.h"
#include "plotmodel.h"

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

    /// Logs where SampleLog::chooseLocation says (found by the log's writer, with the first
    /// sample), unless another program running at the same time logs there: then to a file of
    /// its own beside it (LogClaim, taken with the first line), which the first line written
    /// there tells, naming both. In the user's data folder the log is not where the user would
    /// look for it: the first line written there tells where, and why, once for this user
    /// (remembered in the user's settings), not at every start.
    void useDefaultLocation();
    /// Logs to this location instead; before the first sample.
    void useLocation(const SampleLog::Location& location);
    /// The log's writer, once the first sample has been logged.
    const LogWriter* logWriter() const { return m_writer; }
    const plot::PlotModel& model() const { return m_model; }

    /// Plots the value in TextCal (which the callers made sure is numeric) as the next
    /// point, after logging the sample.
    void PlotSample();
    void ScrollDrawBox();
    void cmdDraw_Click();
    void cmdClearDrawBox_Click();
    /// One log line for the previous point's x and the reading fields as they stand, handed
    /// to the log's writer. While the file cannot be written, or its folder does not answer
    /// for kNoAnswerMs, the lines wait; one notice says why when that starts, and another
    /// when they have gone in.
    void LogSample(qint64 position);
    static constexpr int kNoAnswerMs = 2000;
    /// The samples a read completed, logged together once it has been handled (LogSample
    /// keeps them while the window receives).
    void logReadSamples();
    /// The window closes: lines still waiting are tried once more, for at most
    /// LogWriter::kClosingMs. What could not go in, for the user; empty when nothing is lost.
    QString logBeforeClosing();
    /// The log's writer still waits for its folder after closing: the program ends without it.
    bool logLeftBehind() const { return m_writer && m_writer->abandoned(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void DrawSclBar_Change(int value);
    /// The chart changed: shown with the next display frame, not at every sample.
    void changed();
    void showFrame();
    void showScrollState();
    void appendToLog(const QByteArray& lines);
    /// The notices of a log that fails, or whose folder does not answer, and works again.
    void logResult();
    void watchLog();
    void logWaits(const QString& text, bool first);
    /// Where the log is, when the user needs to be told.
    void tellWhereTheLogIs();

    frmMain& m_window;
    const frmMainControls& m_ui;
    DrawBox* m_drawBox = nullptr;
    plot::PlotModel m_model;
    std::function<SampleLog::Location()> m_where;
    LogWriter* m_writer = nullptr; // a child, made with the first sample
    QTimer* m_logWatch = nullptr;  // a child: whether the folder answers
    // A run of lines that waited, from the first failure or silence of the folder to the
    // first append that went in again: one notice at each end.
    bool m_logWaits = false;
    qint64 m_waitedFrom = 0;  // the lines written when it began
    qint64 m_waitedUpTo = 0;  // the lines handed over when it was last seen
    qint64 m_droppedFrom = 0; // and dropped
    bool m_toldUnlocked = false;
    QString m_announce; // said once, with the first line written
    bool m_rememberAnnounced = false;
    QByteArray m_readLines; // of the read being received
    QString m_toldFile;     // the file claimed when the user was last told
};

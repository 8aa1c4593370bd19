#pragma once

#include <QByteArray>
#include <QString>

/// A pseudo-terminal standing in for the device: the program opens devicePath() as its
/// serial port, the test reads and writes the other end.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    QString devicePath() const { return m_path; }
    /// The device end, for reading back the line settings the program set.
    int deviceHandle() const { return m_device; }

    /// Writes bytes as the device sends them.
    bool write(const QByteArray& bytes);
    /// Writes what the terminal takes now, without waiting; how many bytes that was.
    qsizetype writeSome(QByteArrayView bytes);

    /// Reads what the program has written, waiting up to timeoutMs for the first bytes and
    /// then taking whatever follows without a pause.
    QByteArray read(int timeoutMs = 1000);
    /// What the program writes until it has been quiet for quietMs; the event loop runs
    /// meanwhile.
    QByteArray readUntilQuiet(int quietMs);

    /// Hands the device end to a child process and has it exit, as an unplugged adapter
    /// looks to the program: the other end goes away in another process.
    void unplug();

private:
    int m_device = -1;     // the device end (master)
    int m_programEnd = -1; // kept open so the terminal survives until the program opens it
    QString m_path;
};

/// The lines a sensor sends, each sample different from every other.
QByteArray readingLines(int count);

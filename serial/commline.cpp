#include "commline.h"

#include "connectionstatus.h"

#include <algorithm>
#include <utility>

namespace serial {

namespace {

CommError stateFailed(const QString& text) {
    return {CommError::comSetCommStateFailed, text};
}

// Which of the settings the driver runs otherwise than asked, for the user.
QString notTaken(const LineSettings& wanted, const LineSettings& actual) {
    if (actual.speed != wanted.speed) {
        return QStringLiteral("run at %1 baud (the driver set %2 baud)")
            .arg(wanted.speed)
            .arg(actual.speed);
    }
    if (actual.dataBits != wanted.dataBits) {
        return QStringLiteral("use %1 data bits").arg(wanted.dataBits);
    }
    if (actual.parity != wanted.parity) {
        return QStringLiteral("use %1 parity").arg(parityName(wanted.parity));
    }
    return QStringLiteral("use %1 stop bits").arg(stopBitsText(wanted.stopBits));
}

} // namespace

CommError applyLineSettings(CommDriver& driver, const QString& device, const LineSettings& wanted) {
    QString why;
    const std::optional<LineSettings> before = driver.line(why);
    if (!before) {
        return stateFailed(QStringLiteral("%1: %2").arg(device, why));
    }
    const std::optional<QString> refused = driver.setLine(wanted);
    if (!refused) {
        // Some drivers take a setting and quietly run another.
        const std::optional<LineSettings> actual = driver.line(why);
        if (actual && *actual != wanted) {
            return stateFailed(
                QStringLiteral("%1: The port cannot %2.").arg(device, notTaken(wanted, *actual)));
        }
        return {};
    }
    // From the state the driver runs, one setting after the other (the word size and stop
    // bits together, since they go in pairs): the first refused is the one to name.
    struct Step {
        QString what;
        void (*take)(LineSettings&, const LineSettings&);
    };
    const Step steps[] = {
        {QStringLiteral("run at %1 baud").arg(wanted.speed),
         [](LineSettings& s, const LineSettings& w) {
             s.speed = w.speed;
         }},
        {QStringLiteral("use %1 parity").arg(parityName(wanted.parity)),
         [](LineSettings& s, const LineSettings& w) {
             s.parity = w.parity;
         }},
        {QStringLiteral("use %1 data bits with %2 stop bits")
             .arg(wanted.dataBits)
             .arg(stopBitsText(wanted.stopBits)),
         [](LineSettings& s, const LineSettings& w) {
             s.dataBits = w.dataBits;
             s.stopBits = w.stopBits;
         }},
    };
    LineSettings step = *before;
    for (const Step& next : steps) {
        next.take(step, wanted);
        if (const std::optional<QString> no = driver.setLine(step)) {
            return stateFailed(QStringLiteral("%1 cannot %2").arg(device, next.what) +
                               (no->isEmpty() ? QStringLiteral(".") : ": " + *no));
        }
    }
    // Taken one by one after all: the driver refused something else of the whole.
    return stateFailed(QStringLiteral("%1 cannot use %2").arg(device, settingsString(wanted)) +
                       (refused->isEmpty() ? QStringLiteral(".") : ": " + *refused));
}

CommLine::CommLine(OpenDriver openDriver) : m_openDriver(std::move(openDriver)) {}

CommLine::~CommLine() {
    close();
}

CommError CommLine::open(const QString& device, const LineSettings& settings,
                         ReachedDevice reached) {
    if (const QString why = notYetReopenable(device); !why.isEmpty()) {
        return {CommError::comPortNotAvailable, why};
    }
    CommError error;
    std::unique_ptr<CommDriver> driver = m_openDriver(device, std::move(reached), error);
    if (!driver) {
        return error;
    }
    if (const CommError refused = applyLineSettings(*driver, device, settings)) {
        return refused;
    }
    if (const QString why = driver->prepare(kInputQueue); !why.isEmpty()) {
        return {CommError::comPortNotAvailable, QStringLiteral("%1: %2").arg(device, why)};
    }
    m_driver = std::move(driver);
    m_device = device;
    m_settings = settings;
    connect(m_driver.get(), &CommDriver::readEnded, this, &CommLine::readEnded);
    connect(m_driver.get(), &CommDriver::writeEnded, this, &CommLine::writeEnded);
    m_lostReason.clear();
    m_lastWriteFailure.clear();
    m_quickEmptyReads = 0;
    startRead();
    return {};
}

void CommLine::close() {
    if (!m_driver) {
        return;
    }
    // What the driver still has to send goes out: only discardOutput() drops it. A driver
    // that does not end a cancelled request keeps its buffers; the close does not wait.
    m_driver->purgeInput();
    if (!m_driver->cancel(kCancelWaitMs)) {
        m_driver->closeKeepingRequests();
        m_unsettled[m_device] = std::move(m_driver);
    }
    m_driver.reset();
    m_reading = m_readPaused = m_writing = m_dropSending = false;
    m_sending.clear();
    m_queue.clear();
    m_received.clear();
}

QString CommLine::notYetReopenable(const QString& device) {
    std::erase_if(m_unsettled,
                  [](const auto& unsettled) { return unsettled.second->requestsEnded(); });
    if (!m_unsettled.contains(device)) {
        return {};
    }
    return QStringLiteral("%1: the driver has not yet ended what the last connection asked of "
                          "it. Try again in a moment, or unplug the adapter and plug it in "
                          "again.")
        .arg(device);
}

QString CommLine::write(const QByteArray& bytes) {
    if (!isOpen()) {
        return QStringLiteral("The port is not open.");
    }
    m_queue += bytes;
    if (!m_writing) {
        startWrite();
    }
    return {};
}

qint64 CommLine::pendingOutput() const {
    if (!isOpen()) {
        return 0;
    }
    // The driver counts what is left of the piece on its way; one that counts nothing while
    // the write has not ended is still sending all of it.
    const qint64 driver = m_driver->outputQueue();
    const qint64 onItsWay = m_writing && !m_dropSending ? m_sending.size() : 0;
    return m_queue.size() + (driver > 0 ? driver : onItsWay);
}

void CommLine::discardOutput() {
    if (!isOpen()) {
        return;
    }
    m_queue.clear();
    m_dropSending = m_writing;
    m_driver->purgeOutput();
}

QString CommLine::read(QByteArray& into) {
    into += std::exchange(m_received, {});
    if (std::exchange(m_readPaused, false) && isOpen() && m_lostReason.isEmpty()) {
        startRead();
    }
    return std::exchange(m_lostReason, {});
}

qsizetype CommLine::pieceSize() const {
    const qint64 bytesPerPiece =
        qint64(kPieceMs) * 1000 / std::max<qint64>(transmitMilliseconds(1000, m_settings), 1);
    return qsizetype(std::max<qint64>(bytesPerPiece, 16));
}

void CommLine::startRead() {
    if (m_received.size() >= kMostHeld) {
        m_readPaused = true; // the driver's queue holds what comes meanwhile
        return;
    }
    m_reading = true;
    m_readSince.start();
    if (const QString why = m_driver->startRead(kReadChunk); !why.isEmpty()) {
        m_reading = false;
        deviceFailed(why);
    }
}

void CommLine::readEnded(const QByteArray& bytes, const QString& failure) {
    if (!isOpen() || !m_reading) {
        return;
    }
    m_reading = false;
    if (!failure.isEmpty()) {
        deviceFailed(failure);
        return;
    }
    if (!bytes.isEmpty()) {
        m_quickEmptyReads = 0;
    } else if (!m_readSince.hasExpired(kReadWaitMs / 4)) {
        if (++m_quickEmptyReads >= kQuickEmptyReads) {
            deviceFailed(QStringLiteral("the driver ends every read at once with nothing"));
            return;
        }
    } else {
        m_quickEmptyReads = 0;
    }
    m_received += bytes;
    startRead();
    if (!bytes.isEmpty()) {
        emit readyRead();
    }
}

void CommLine::startWrite() {
    while (!m_queue.isEmpty()) {
        const QByteArray piece = m_queue.first(std::min(m_queue.size(), pieceSize()));
        m_queue.remove(0, piece.size());
        if (const QString why = m_driver->startWrite(piece); !why.isEmpty()) {
            writeFailure(why); // that piece is lost; the rest still goes
            continue;
        }
        m_sending = piece;
        m_writing = true;
        return;
    }
}

void CommLine::writeEnded(qint64 written, const QString& failure) {
    if (!isOpen() || !m_writing) {
        return;
    }
    m_writing = false;
    const QByteArray piece = std::exchange(m_sending, {});
    if (std::exchange(m_dropSending, false)) {
        // Given up on by discardOutput(): nothing of it is told or sent again.
    } else if (!failure.isEmpty()) {
        writeFailure(failure);
    } else {
        m_lastWriteFailure.clear();
        m_queue.prepend(piece.mid(qsizetype(std::clamp<qint64>(written, 0, piece.size()))));
    }
    startWrite();
}

void CommLine::writeFailure(const QString& why) {
    // Once per cause while writes keep failing: an unplugged adapter fails every piece.
    if (std::exchange(m_lastWriteFailure, why) != why) {
        emit writeFailed(why);
    }
}

void CommLine::deviceFailed(const QString& why) {
    // An unplugged adapter takes its port with it: every read fails from then on.
    if (m_lostReason.isEmpty()) {
        m_lostReason = readFailedText(why);
        emit lost(m_lostReason);
    }
}

} // namespace serial

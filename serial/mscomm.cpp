#include "mscomm.h"

#include "connectionstatus.h"
#include "devicenode.h"
#include "portmapping.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMetaObject>

#include <algorithm>
#include <utility>

MSComm::MSComm(QObject* parent) : MSComm(serial::makeSerialLine(), parent) {}

MSComm::MSComm(std::unique_ptr<serial::SerialLine> line, QObject* parent)
    : QObject(parent), m_line(std::move(line)) {
    connect(m_line.get(), &serial::SerialLine::readyRead, this, &MSComm::readArrived);
    connect(m_line.get(), &serial::SerialLine::writeFailed, this, [this](const QString& why) {
        if (!m_flushing) {
            emit SendFailed(why);
        } else if (!m_flushFailures.contains(why)) {
            m_flushFailures << why; // told once the flush has ended, with what was not sent
        }
    });
    connect(m_line.get(), &serial::SerialLine::lost, this, [this](const QString& reason) {
        if (m_flushing) {
            m_lostDuringFlush = true; // the close under way ends it, nothing waits
        } else {
            deviceGone(reason);
        }
    });
    m_readPace.setSingleShot(true);
    connect(&m_readPace, &QTimer::timeout, this, &MSComm::takeWaitingBytes);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MSComm::retryLostDevice);
    m_openPoll.setSingleShot(true);
    connect(&m_openPoll, &QTimer::timeout, this, &MSComm::checkOpening);
    setDeviceWatch(serial::systemDeviceWatch());
}

void MSComm::setDeviceWatch(std::unique_ptr<serial::DeviceWatch> watch) {
    m_watch = std::move(watch);
    connect(m_watch.get(), &serial::DeviceWatch::appeared, this, &MSComm::deviceAppeared);
    connect(m_watch.get(), &serial::DeviceWatch::portReplaced, this,
            [this](const QString& device) { m_line->deviceReplaced(device); });
}

void MSComm::setRetryDelays(int pollMs, int retryMs) {
    m_pollMs = pollMs;
    m_retryMs = retryMs;
}

MSComm::~MSComm() {
    m_line->close();
}

CommError MSComm::setCommPort(int port) {
    if (PortOpen()) {
        return {comPortAlreadyOpen, QStringLiteral("Port already open")};
    }
    if (port < 1 || port > serial::kHighestPort) {
        return {comInvalidPortNumber, QStringLiteral("Invalid port number")};
    }
    m_commPort = port;
    if (WaitingForDevice()) {
        m_opening.reset(); // an open of the other port that is still under way is not wanted
        m_openPoll.stop();
        m_userOpening = false;
        // The user asked to be connected: to this port now, as soon as it can be opened.
        m_waitFor = WaitFor::Port;
        m_waitReason = QStringLiteral("not tried yet");
        m_notYet.clear();
        m_elsewhere.clear();
        watchPort();
        m_retry.start(0);
        emit WaitingChanged();
    }
    return {};
}

QString MSComm::Settings() const {
    return serial::settingsString(m_settings);
}

CommError MSComm::setSettings(const QString& settings) {
    if (PortOpen()) {
        return {comPortAlreadyOpen, QStringLiteral("Port already open")};
    }
    const auto parsed = serial::parseLineSettings(settings);
    if (!parsed) {
        return {comInvalidPropertyValue, QStringLiteral("Invalid property value")};
    }
    m_settings = *parsed;
    return {};
}

serial::PortsNow MSComm::lookUpPorts() const {
    return serial::lookUpPorts(m_inventory(), m_numbersFile);
}

void MSComm::setPortInventory(serial::PortInventory inventory) {
    m_inventory = std::move(inventory);
}

void MSComm::stopWaiting() {
    m_retry.stop();
    m_watch->stop();
    m_elsewhere.clear();
    m_openPoll.stop();
    m_opening.reset(); // what it still opens is closed again
    m_userOpening = false;
    m_waitFor = WaitFor::Nothing;
    m_notYet.clear();
}

QString MSComm::WaitingText() const {
    switch (m_waitFor) {
    case WaitFor::Device:
        return serial::waitingForDeviceText(m_opened.device, m_waitReason,
                                            serial::describeIdentity(m_opened.identity), m_notYet,
                                            m_elsewhere);
    case WaitFor::Port:
        return serial::waitingForPortText(m_commPort, m_waitReason);
    case WaitFor::Nothing:
        break;
    }
    return {};
}

qint64 MSComm::OutputPending() const {
    return m_line->pendingOutput();
}

CommError MSComm::setPortOpen(bool open) {
    stopWaiting();
    if (!open) {
        const bool wasOpen = PortOpen();
        if (wasOpen) {
            reportUnsent(flushOutput());
        }
        // A loss of the device that came meanwhile ends here too: after the user's close
        // nothing waits or reopens by itself.
        stopWaiting();
        m_closingLostPort = false;
        m_lostReason.clear();
        m_readPace.stop();
        m_line->close();
        m_received.clear();
        m_streamEnds.clear();
        if (wasOpen) {
            emit StreamEnded();
        }
        return {};
    }
    if (PortOpen()) {
        return {comPortAlreadyOpen, QStringLiteral("Port already open")};
    }
    CommError error = openPort();
    if (!error && m_opening) {
        // An open of the device that was already under way (Connect again after giving up
        // on a slow one) has had its chance to be quick.
        if (m_opening->open->wait(
                int(std::max<qint64>(kOpenWaitMs - m_opening->open->underWayMs(), 0)))) {
            error = finishOpening();
        } else {
            // Slow to answer: the window goes on, the port waits for it.
            m_userOpening = true;
            m_waitFor = WaitFor::Port;
            m_waitReason = QStringLiteral("%1 has not answered yet").arg(m_opening->device);
            watchPort();
            return {};
        }
    }
    if (error.number == comInvalidPortNumber) {
        // The port is not there: which ones are.
        if (const QString others = serial::otherPortsText(lookUpPorts().numbered(), m_commPort);
            !others.isEmpty()) {
            error.description += QStringLiteral("\r\n") + others;
        }
    }
    return error;
}

CommError MSComm::openPort() {
    // Settings this platform cannot do at all are refused before the device is touched.
    if (const auto refused = serial::settingsRefused(m_settings)) {
        return *refused;
    }
    return openPort(m_inventory());
}

CommError MSComm::openPort(const QList<serial::PortInfo>& present) {
    const serial::PortChoice choice = serial::lookUpPort(m_commPort, present, m_numbersFile);
    if (choice.device.isEmpty()) {
        return {comInvalidPortNumber, serial::portSummary(m_commPort, choice)};
    }
    if (const CommError refused = refuseBeforeOpening(choice)) {
        return refused;
    }
    freeIfGone(choice.device, choice.info.has_value());
    if (const QString why = m_line->notYetReopenable(choice.device); !why.isEmpty()) {
        return {comPortNotAvailable, why};
    }
    // What it is decides what may be opened for it if it goes away: a variable may name a
    // link, so the inventory is asked what is behind it.
    serial::PortInfo info;
    info.device = serial::canonicalPath(choice.device);
    for (const serial::PortInfo& port : present) {
        if (port.device == info.device) {
            info = port;
        }
    }
    startOpening(choice.device, serial::identityOf(info, present, choice.device), info);
    return {};
}

CommError MSComm::refuseBeforeOpening(const serial::PortChoice& choice) const {
    serial::PortChoice known = choice;
    if (!known.info) {
        known.info = serial::builtInUartAt(choice.device);
    }
    if (const auto why = serial::refusalBeforeOpening(m_commPort, known)) {
        return {comPortNotAvailable, *why};
    }
    // A file or a folder would only fail later, with a question about terminal settings.
    const serial::DeviceNode node = serial::inspectNode(choice.device);
    if (node.kind != serial::DeviceNode::Kind::CharacterDevice &&
        node.kind != serial::DeviceNode::Kind::Missing) {
        return {comPortNotAvailable, serial::notSerialDeviceDescription(choice.device, node.kind)};
    }
    return {};
}

void MSComm::startOpening(const QString& device, const serial::DeviceIdentity& identity,
                          const serial::PortInfo& info) {
    m_opening.reset(); // given up before it may be joined
    m_opening.emplace(Opening{device, identity, info, m_opens.open(device), {}});
    m_opening->since.start();
    m_openPoll.start(kQuickOpenPollMs);
}

void MSComm::checkOpening() {
    if (!m_opening) {
        m_openPoll.stop();
    } else if (m_opening->open->wait(0)) {
        openingEnded(finishOpening());
    } else if (m_opening->since.hasExpired(kLongestOpenMs)) {
        const QString device = m_opening->device;
        m_opening.reset();
        m_openPoll.stop();
        openingEnded({comPortNotAvailable, QStringLiteral("%1 did not answer within %2 seconds.")
                                               .arg(device)
                                               .arg(kLongestOpenMs / 1000)});
    } else {
        m_openPoll.start(m_opening->since.hasExpired(kQuickOpenMs) ? kOpenPollMs
                                                                   : kQuickOpenPollMs);
    }
}

CommError MSComm::finishOpening() {
    m_openPoll.stop();
    Opening opening = std::move(*m_opening);
    m_opening.reset();
    if (const CommError error = m_line->open(opening.device, m_settings, opening.open->take())) {
        return error;
    }
    m_opened = {opening.device, opening.identity, opening.info};
    m_commEvent = 0;
    return {};
}

void MSComm::openingEnded(const CommError& error) {
    if (!error) {
        m_userOpening = false;
        m_waitFor = WaitFor::Nothing;
        m_notYet.clear();
        m_elsewhere.clear();
        m_watch->stop();
        if (!m_streamEnds.empty()) {
            m_streamEnds.back().reopened = true; // told after the loss, once the box is closed
            return;
        }
        emit Reconnected();
        return;
    }
    if (std::exchange(m_userOpening, false)) {
        m_waitFor = WaitFor::Nothing;
        emit OpenFailed(error);
        return;
    }
    if (m_waitFor == WaitFor::Port &&
        std::exchange(m_waitReason, error.description) != error.description) {
        emit WaitingChanged();
    }
    m_retry.start(nextRetryMs());
}

CommError MSComm::setOutput(const QByteArray& data) {
    if (!PortOpen()) {
        return {comPortNotOpen, QStringLiteral("Operation valid only when the port is open")};
    }
    if (const QString why = m_line->write(data); !why.isEmpty()) {
        return {comWriteFailed, why};
    }
    return {};
}

qsizetype MSComm::beforeStreamEnd() const {
    return m_streamEnds.empty() ? m_received.size() : m_streamEnds.front().at;
}

QByteArray MSComm::Input() {
    if (PortOpen() && m_streamEnds.empty() && m_received.size() < kPortion) {
        if (const QString lost = m_line->read(m_received); !lost.isEmpty()) {
            deviceGone(lost);
        }
    }
    const qsizetype count = std::min(beforeStreamEnd(), kPortion);
    QByteArray portion = m_received.first(count);
    m_received.remove(0, count);
    for (StreamEnd& end : m_streamEnds) {
        end.at -= count;
    }
    return portion;
}

void MSComm::holdEvents() {
    ++m_holdDepth;
}

void MSComm::releaseEvents() {
    if (m_holdDepth > 0 && --m_holdDepth == 0) {
        // Raised once the handler that held them has returned, as if they had just arrived.
        QMetaObject::invokeMethod(this, &MSComm::raiseWaitingEvents, Qt::QueuedConnection);
    }
}

bool MSComm::raiseReceive() {
    const qsizetype waiting = beforeStreamEnd();
    m_commEvent = comEvReceive;
    emit OnComm();
    const qsizetype left = beforeStreamEnd();
    if (left == 0 || left >= waiting) {
        return false;
    }
    QMetaObject::invokeMethod(this, &MSComm::raiseWaitingEvents, Qt::QueuedConnection);
    return true;
}

void MSComm::raiseWaitingEvents() {
    if (m_holdDepth > 0) {
        return;
    }
    if (m_dropped > 0) {
        emit StreamEnded();
        emit InputDropped(std::exchange(m_dropped, 0));
    }
    const bool portHasMore = PortOpen() && m_streamEnds.empty() && m_line->hasInput();
    if (beforeStreamEnd() > 0 || portHasMore) {
        if (raiseReceive()) {
            return; // a loss waits until everything before it was handed over
        }
    }
    if (m_streamEnds.empty() || m_streamEnds.front().at > 0) {
        return;
    }
    const StreamEnd end = m_streamEnds.front();
    m_streamEnds.pop_front();
    emit StreamEnded();
    if (!end.lostReason.isEmpty()) {
        emit PortLost(end.lostReason);
    }
    if (end.reopened) {
        emit Reconnected();
    }
    if (!m_received.isEmpty() || !m_streamEnds.empty()) {
        // What came after the reopen is a new stream, handed over once the window has had
        // its turn.
        QMetaObject::invokeMethod(this, &MSComm::raiseWaitingEvents, Qt::QueuedConnection);
    }
}

void MSComm::readArrived() {
    const qint64 since = m_sinceRead.isValid() ? m_sinceRead.elapsed() : kQuietMs;
    if (since >= kQuietMs) {
        m_talkingSince.start();
    }
    const int pace = readPace();
    if (since >= pace || m_lastReadWasMuch) {
        takeWaitingBytes();
    } else if (!m_readPace.isActive()) {
        m_readPace.start(int(pace - since));
    }
}

int MSComm::readPace() const {
    return m_talkingSince.isValid() && m_talkingSince.hasExpired(kTalkingMs) ? kTalkingReadPaceMs
                                                                             : kReadPaceMs;
}

void MSComm::takeWaitingBytes() {
    m_readPace.stop();
    if (!PortOpen()) {
        return;
    }
    m_sinceRead.start();
    const qsizetype before = m_received.size();
    // A backlog still being handed over goes first; meanwhile the driver holds what comes.
    if (m_holdDepth > 0 || before < kPortion) {
        if (const QString lost = m_line->read(m_received); !lost.isEmpty()) {
            deviceGone(lost);
        }
    }
    m_lastReadWasMuch = m_received.size() - before >=
                        (readPace() == kTalkingReadPaceMs ? kMuchWhileTalking : kMuchWaiting);
    if (m_holdDepth > 0) {
        keepNewestHeld();
        return;
    }
    if (!m_received.isEmpty()) {
        raiseWaitingEvents();
    }
}

void MSComm::keepNewestHeld() {
    if (m_received.size() > kHeldLimit) {
        const qsizetype excess = m_received.size() - kHeldLimit;
        m_received.remove(0, excess);
        m_dropped += excess;
        for (StreamEnd& end : m_streamEnds) {
            end.at = std::max<qsizetype>(end.at - excess, 0);
        }
    }
}

qint64 MSComm::flushOutput() {
    const qint64 total = OutputPending();
    // Whatever the device sends meanwhile is kept for nobody: the port is closing. No event
    // is raised inside the handler that closes. The event loop runs, so Qt hands its queue to
    // the driver and the window stays alive.
    m_flushing = true;
    m_flushCancelled = false;
    m_lostDuringFlush = false;
    ++m_holdDepth;
    QElapsedTimer elapsed;
    elapsed.start();
    const auto waitWhile = [&](const auto& going, qint64 boundMs) {
        const QDeadlineTimer deadline(std::min<qint64>(boundMs, kLongestFlushMs));
        QEventLoop loop;
        QTimer tick;
        connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
        tick.start(kFlushTickMs);
        while (PortOpen() && going() && !deadline.hasExpired() && !m_flushCancelled &&
               !m_lostDuringFlush) {
            loop.exec();
            emit FlushProgress(OutputPending(), total, elapsed.elapsed());
        }
        return !going();
    };
    if (total > 0) {
        const qint64 lineMs = serial::transmitMilliseconds(total, m_settings);
        waitWhile([this] { return OutputPending() > 0; }, lineMs * 3 / 2 + 250);
    }
    const qint64 unsent = OutputPending();
    bool drained = true;
    if (unsent == 0 && PortOpen() && !m_flushCancelled && !m_lostDuringFlush) {
        if (const qint64 drainMs = m_line->startDrain(); drainMs > 0) {
            drained = waitWhile([this] { return !m_line->drained(); }, drainMs);
        }
    }
    --m_holdDepth;
    m_flushing = false;
    if (unsent > 0 || !drained) {
        // Given up on: else closing would wait for the driver to send it, 30 s for a UART
        // by default. What went out in time is left to finish.
        m_line->discardOutput();
    }
    if (!drained) {
        m_flushFailures << QStringLiteral("The port closed before the driver had sent the last "
                                          "bytes: some of them may not have gone out.");
    }
    return unsent;
}

void MSComm::reportUnsent(qint64 unsent) {
    for (const QString& why : std::exchange(m_flushFailures, {})) {
        emit SendFailed(why);
    }
    if (unsent > 0) {
        emit SendFailed(
            QStringLiteral("%1 bytes could not be sent before the port closed.").arg(unsent));
    }
}

void MSComm::deviceGone(const QString& reason) {
    if (!PortOpen() || m_closingLostPort) {
        return;
    }
    // Closing inside Qt's own read notification is not safe; close once, right after it.
    m_closingLostPort = true;
    m_lostReason = reason;
    QMetaObject::invokeMethod(this, &MSComm::closeLostPort, Qt::QueuedConnection);
}

void MSComm::closeLostPort() {
    m_closingLostPort = false;
    if (m_flushing) {
        m_lostDuringFlush = true; // the user's close under way ends it
        return;
    }
    if (!PortOpen()) {
        return;
    }
    // What arrived before the device went away is still shown and captured; what was still
    // to be sent can no longer go.
    (void)m_line->read(m_received);
    reportUnsent(m_line->pendingOutput());
    m_readPace.stop();
    m_line->close();
    // Of what the program saw, the node being gone says most.
    QString reason = std::exchange(m_lostReason, {});
    if (!serial::deviceExists(m_opened.device)) {
        reason = serial::deviceNodeGoneText(m_opened.device);
    }
    m_streamEnds.push_back({m_received.size(), reason, false});
    if (m_opened.identity.kind == serial::DeviceIdentity::Kind::None) {
        // Nothing tells it from the next terminal that gets its number.
        m_streamEnds.back().lostReason = serial::notReopenedText(m_opened.device, reason);
    } else {
        m_waitFor = WaitFor::Device;
        m_waitReason = reason;
        m_notYet.clear();
        m_elsewhere.clear();
        m_presentAtLoss = m_listed = m_inventory();
        m_listedAt.start();
        m_sinceAppeared.invalidate();
        watchFor(m_opened.identity);
        m_retry.start(m_pollMs);
    }
    raiseWaitingEvents();
}

void MSComm::setNotYet(const QString& notYet) {
    if (std::exchange(m_notYet, notYet) != notYet) {
        emit WaitingChanged();
    }
}

void MSComm::retryLostDevice() {
    if (m_opening) {
        return; // the open under way ends first
    }
    if (m_waitFor == WaitFor::Port) {
        if (const CommError error = openPort()) {
            openingEnded(error);
        }
        return;
    }
    // Only the device that went away: whatever its port number maps to meanwhile, or
    // whatever else now has its path, is not asked.
    const QList<serial::PortInfo> present = presentForRetry();
    const serial::Reopening back =
        serial::whereToReopen(m_opened.identity, present, serial::canonicalPath);
    freeIfGone(back.device, back.listed);
    const QString notYetReopenable =
        back.device.isEmpty() ? QString() : m_line->notYetReopenable(back.device);
    setNotYet(notYetReopenable.isEmpty() ? back.notYet : notYetReopenable);
    setElsewhere(back.listed ? QString()
                             : serial::sameKindAppeared(m_opened.info, m_presentAtLoss, present));
    if (back.device.isEmpty() || !notYetReopenable.isEmpty()) {
        m_retry.start(nextRetryMs());
        return;
    }
    startOpening(back.device, m_opened.identity, m_opened.info);
}

void MSComm::setElsewhere(const QString& elsewhere) {
    if (std::exchange(m_elsewhere, elsewhere) != elsewhere) {
        emit WaitingChanged();
    }
}

void MSComm::watchPort() {
    // Where the chosen port's device will appear; one that is not there yet may come as
    // any adapter.
    serial::DeviceIdentity awaited;
    awaited.path = serial::lookUpPort(m_commPort, m_inventory(), m_numbersFile).device;
    awaited.kind = awaited.path.isEmpty() ? serial::DeviceIdentity::Kind::Usb
                                          : serial::DeviceIdentity::Kind::Path;
    watchFor(awaited);
}

void MSComm::watchFor(const serial::DeviceIdentity& awaited) {
    m_polling = !m_watch->watch(awaited);
    m_waiting.start();
}

void MSComm::freeIfGone(const QString& device, bool listed) {
    if (!device.isEmpty() && !listed && !m_line->notYetReopenable(device).isEmpty()) {
        m_line->deviceReplaced(device);
    }
}

void MSComm::deviceAppeared() {
    if (!WaitingForDevice() || m_opening) {
        return; // the open under way ends first
    }
    m_sinceAppeared.start();
    m_listedAt.invalidate(); // something changed: the list is read again
    m_retry.start(0);
}

QList<serial::PortInfo> MSComm::presentForRetry() {
    if (!m_polling || m_opened.identity.kind == serial::DeviceIdentity::Kind::Usb ||
        !m_listedAt.isValid() || m_listedAt.hasExpired(m_retryMs)) {
        m_listed = m_inventory();
        m_listedAt.start();
    }
    return m_listed;
}

int MSComm::nextRetryMs() const {
    if (m_sinceAppeared.isValid() && !m_sinceAppeared.hasExpired(kQuickRetriesMs)) {
        return kQuickRetryMs;
    }
    if (!m_polling) {
        return m_retryMs;
    }
    // Most devices that come back do so within seconds (a glitch, a replug): looked for
    // often then, seldom after a long absence.
    return int(std::clamp<qint64>(m_waiting.elapsed() / kBackOff, m_pollMs,
                                  std::max(m_pollMs, m_retryMs)));
}

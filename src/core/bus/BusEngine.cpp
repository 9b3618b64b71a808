#include "core/bus/BusEngine.h"

#include "core/frames/FrameScan.h"
#include "core/link/SerialPort.h"

#include <cmath>

namespace vx {

namespace {
constexpr int kDeviceMarginMs = 50;     // what a device may take to start its reply
constexpr int kUploadBytes = 31;        // an upload frame: 13 registers
constexpr int kHighestAddress = 247;
constexpr int kLinkDownPollMs = 100;   // how often a stopped link is looked at
} // namespace

int BusSettings::effectiveTimeoutMs() const
{
    if (timeoutMs > 0)
        return timeoutMs;
    int reply = expectedReplyLength(readRequest(1, function, start, count));
    for (const Read &r : reads)
        reply = qMax(reply, expectedReplyLength(readRequest(1, r.function, r.start, r.count)));
    return int(std::ceil((8 + qMax(reply, 5) + 3.5) * byteMs())) + kDeviceMarginMs;
}

int BusSettings::silenceMs() const
{
    return qMax(1, int(std::ceil(3.5 * byteMs())));
}

BusEngine::BusEngine(SerialPort &port, const BusSettings &settings, QObject *parent)
    : QObject(parent), m_port(port), m_settings(settings)
{
    for (int a : m_settings.addresses)
        m_stats[a];
    m_timeout.setSingleShot(true);
    m_timeout.setTimerType(Qt::PreciseTimer);
    connect(&m_timeout, &QTimer::timeout, this, &BusEngine::onTimeout);
    m_next.setSingleShot(true);
    m_next.setTimerType(Qt::PreciseTimer);
    connect(&m_next, &QTimer::timeout, this, &BusEngine::sendNext);
    connect(&m_port, &SerialPort::commEvent, this, [this](CommEvent event) {
        if (event == CommEvent::Receive)
            onReceive();
    });
}

void BusEngine::start()
{
    m_running = true;
    m_stopping = false;
    m_port.setInputLength(0);
    awaitBytes(5); // the shortest frame: an exception reply
    m_cycleClock.start();
    scheduleNext(0);
}

void BusEngine::write(const QByteArray &request)
{
    m_writes.append(request);
}

void BusEngine::stop()
{
    if (!m_running)
        return;
    m_stopping = true;
    if (m_request.isEmpty()) {
        m_next.stop();
        m_running = false;
        emit stopped();
    }
    // Otherwise the exchange in flight ends (reply or timeout) first.
}

void BusEngine::awaitBytes(int count)
{
    // The port wakes us once that many bytes have come, not for each byte.
    m_port.setThreshold(qMax(1, count));
}

void BusEngine::scheduleNext(int delayMs)
{
    m_next.start(qMax(0, delayMs));
}

bool BusEngine::nextAddress(int *address)
{
    const QList<int> &list = m_settings.addresses;
    for (int step = 0; step < list.size(); ++step) {
        ++m_index;
        if (m_index >= list.size()) {
            m_index = -1;
            ++m_cycles;
            emit cycleDone(m_cycles);
            const qint64 elapsed = m_cycleClock.elapsed();
            if (m_settings.cyclePeriodMs > 0 && elapsed < m_settings.cyclePeriodMs) {
                scheduleNext(int(m_settings.cyclePeriodMs - elapsed));
                m_cycleClock.start();
                return false;
            }
            m_cycleClock.start();
            ++m_index;
        }
        DeviceStats &s = m_stats[list[m_index]];
        if (s.skipCycles > 0) { // backing off: this cycle goes to the others
            --s.skipCycles;
            continue;
        }
        *address = list[m_index];
        return true;
    }
    // A whole pass with every device backing off: give the line a rest before the next.
    scheduleNext(m_settings.effectiveTimeoutMs());
    return false;
}

void BusEngine::sendNext()
{
    if (!m_running)
        return;
    if (m_stopping) {
        m_running = false;
        emit stopped();
        return;
    }
    if (m_settings.mode == BusSettings::Mode::Upload || m_settings.addresses.isEmpty())
        return; // listening only
    if (!m_port.isOpen()) {
        // The link is down (a gateway's connection lost): nobody is asked,
        // nobody counted silent, until it is back.
        scheduleNext(kLinkDownPollMs);
        return;
    }
    if (!m_writes.isEmpty()) {
        m_request = m_writes.takeFirst();
        m_requestIsWrite = true;
        m_address = quint8(m_request[0]);
        m_triesLeft = m_settings.retries;
        takeUploads();
        m_exchangeBytes.clear();
        transmit();
        return;
    }
    int address = 0;
    if (!nextAddress(&address))
        return;
    m_address = address;
    m_requestIsWrite = false;
    const auto read = m_settings.reads.constFind(address);
    m_request = read == m_settings.reads.cend()
        ? readRequest(quint8(address), m_settings.function, m_settings.start, m_settings.count)
        : readRequest(quint8(address), read->function, read->start, read->count);
    // A device already silent is only asked whether it is back: no retries,
    // so it costs the live ones one timeout, not several.
    m_triesLeft = m_stats[address].answering ? m_settings.retries : 0;
    takeUploads(); // what came on its own before this request is not its reply
    m_exchangeBytes.clear();
    transmit();
}

void BusEngine::transmit()
{
    m_buffer.clear();
    awaitBytes(5);
    ++m_stats[m_address].requests;
    m_port.write(m_request);
    // The response time counts from here; the request's own time on the line is in it.
    m_sent.start();
    m_timeout.start(m_settings.effectiveTimeoutMs());
}

void BusEngine::retransmitAfterSilence()
{
    --m_triesLeft;
    m_timeout.stop();
    m_buffer.clear();
    QTimer::singleShot(m_settings.silenceMs(), this, [this, request = m_request] {
        if (m_request == request && !m_request.isEmpty())
            transmit();
    });
}

void BusEngine::onReceive()
{
    const QByteArray bytes = m_port.read();
    if (bytes.isEmpty())
        return;
    const QDateTime arrived = m_port.arrivalOf(bytes.size() - 1);
    m_lastArrival = arrived;
    m_buffer += bytes;
    if (m_request.isEmpty()) {
        takeUploads();
        return;
    }
    m_exchangeBytes += bytes;
    using S = ReplyCheck::Status;
    for (;;) {
        const ReplyCheck check = checkReply(m_request, m_buffer);
        DeviceStats &s = m_stats[m_address];
        switch (check.status) {
        case S::Incomplete: {
            // Once the header is in, the rest of the frame is known.
            const bool exception = m_buffer.size() >= 2 && quint8(m_buffer[1]) & 0x80;
            const int length = exception ? 5 : expectedReplyLength(m_request);
            awaitBytes(length > 0 ? length - int(m_buffer.size()) : 1);
            return;
        }
        case S::Good: {
            const QByteArray frame = m_buffer.left(check.length);
            m_buffer.remove(0, check.length);
            const double ms = m_sent.nsecsElapsed() / 1e6;
            s.responseMinMs = s.goodReplies == 0 ? ms : qMin(s.responseMinMs, ms);
            s.responseMaxMs = qMax(s.responseMaxMs, ms);
            s.responseSumMs += ms;
            ++s.goodReplies;
            s.lastSeen = arrived;
            if (m_requestIsWrite)
                emit written(m_request, frame == m_request);
            else
                emit readings(m_address, replyRegisters(frame), arrived, frame);
            finishExchange(true);
            return;
        }
        case S::Exception:
            m_buffer.remove(0, check.length);
            ++s.exceptions;
            s.lastSeen = arrived;
            if (m_requestIsWrite)
                emit written(m_request, false);
            else
                emit exceptionReply(m_address, check.exceptionCode);
            finishExchange(true);
            return;
        case S::Corrupt:
            // Never a reading. The device is there; the line garbled it: try again.
            ++s.crcErrors;
            m_buffer.clear();
            if (m_triesLeft > 0 && !m_stopping) {
                retransmitAfterSilence();
                return;
            }
            if (m_requestIsWrite)
                emit written(m_request, false);
            finishExchange(true);
            return;
        case S::Foreign:
            // An upload frame from another device, or noise before the reply.
            if (m_settings.mode != BusSettings::Mode::Poll && m_buffer.size() >= kUploadBytes) {
                const FrameScan scan = scanFrames(m_buffer.left(kUploadBytes), {kUploadBytes, 0x03, kHighestAddress});
                if (scan.frames.size() == 1) {
                    takeUploads();
                    continue;
                }
            }
            m_buffer.remove(0, 1);
            if (m_buffer.isEmpty()) {
                awaitBytes(5);
                return;
            }
            continue;
        }
    }
}

void BusEngine::onTimeout()
{
    if (m_request.isEmpty())
        return;
    if (!m_port.isOpen()) {
        // The link went down during the exchange: the device is not to blame.
        --m_stats[m_address].requests;
        m_timeout.stop();
        if (m_requestIsWrite)
            emit written(m_request, false);
        m_request.clear();
        m_exchangeBytes.clear();
        m_buffer.clear();
        if (m_stopping) {
            m_running = false;
            emit stopped();
            return;
        }
        scheduleNext(kLinkDownPollMs);
        return;
    }
    ++m_stats[m_address].timeouts;
    if (m_triesLeft > 0 && !m_stopping) {
        retransmitAfterSilence();
        return;
    }
    if (m_requestIsWrite)
        emit written(m_request, false);
    finishExchange(false);
}

void BusEngine::finishExchange(bool answered)
{
    m_timeout.stop();
    ++m_exchanges;
    if (!m_exchangeBytes.isEmpty())
        emit received(m_exchangeBytes, m_lastArrival);
    m_exchangeBytes.clear();
    awaitBytes(5);
    DeviceStats &s = m_stats[m_address];
    if (answered) {
        s.backoff = 0;
        s.skipCycles = 0;
        if (!s.answering) {
            s.answering = true;
            emit deviceAnswering(m_address, true);
        }
    } else {
        s.backoff = s.backoff == 0 ? 1 : qMin(s.backoff * 2, qMax(1, m_settings.backoffCeiling));
        s.skipCycles = s.backoff;
        if (s.answering) {
            s.answering = false;
            emit deviceAnswering(m_address, false);
        }
    }
    m_request.clear();
    if (m_stopping) {
        m_running = false;
        emit stopped();
        return;
    }
    scheduleNext(m_settings.silenceMs());
}

void BusEngine::takeUploads()
{
    if (m_settings.mode == BusSettings::Mode::Poll) {
        m_buffer.clear();
        return;
    }
    const FrameScan scan = scanFrames(m_buffer, {0, 0x03, kHighestAddress});
    const QDateTime now = m_lastArrival.isValid() ? m_lastArrival : QDateTime::currentDateTime();
    for (const QByteArray &frame : scan.frames) {
        emit received(frame, now);
        const int address = quint8(frame[0]);
        DeviceStats &s = m_stats[address];
        ++s.uploads;
        s.lastSeen = now;
        emit readings(address, replyRegisters(frame), now, frame);
    }
    m_buffer = scan.tail;
}

} // namespace vx

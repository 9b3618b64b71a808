#include "core/link/SerialPort.h"

#include "core/platform/ModalGate.h"

#include <QLoggingCategory>
#include <QMetaObject>

Q_LOGGING_CATEGORY(lcWire, "vxmon.wire", QtWarningMsg)

namespace vx {

SerialPort::SerialPort(QObject *parent) : QObject(parent) {}

SerialPort::~SerialPort() = default;

void SerialPort::setSettings(const QString &settings)
{
    m_settings = settings;
    m_baudRate = rateOf(settings);
}

qint32 SerialPort::rateOf(const QString &settings)
{
    bool ok = false;
    const qint32 rate = settings.section(QLatin1Char(','), 0, 0).trimmed().toInt(&ok);
    return ok ? rate : 0;
}

void SerialPort::clearInput()
{
    m_input.clear();
    m_arrivals.clear();
    m_repeated = 0;
    discardDeviceInput();
    drained();
    neededChanged();
}

void SerialPort::clearOutput()
{
    discardDeviceOutput();
}

void SerialPort::setThreshold(int threshold)
{
    m_threshold = qMax(0, threshold);
    neededChanged();
    scheduleCheck();
}

QByteArray SerialPort::read()
{
    return take(m_inputLength > 0 ? qsizetype(m_inputLength) : m_input.size());
}

QByteArray SerialPort::readBatch(qsizetype maxBytes)
{
    const qsizetype limit = m_inputLength > 0 ? qMin<qsizetype>(m_inputLength, maxBytes) : maxBytes;
    QByteArray taken = take(limit);
    if (!m_input.isEmpty())
        scheduleCheck(); // the rest raises its own event, after the window had its turn
    return taken;
}

QByteArray SerialPort::take(qsizetype count)
{
    QByteArray taken;
    if (count < m_input.size()) {
        taken = m_input.left(count);
        m_input.remove(0, count);
    } else {
        taken.swap(m_input);
    }
    // The arrivals that cover what was taken go with it.
    m_lastArrivals.clear();
    qsizetype need = taken.size();
    while (need > 0 && !m_arrivals.empty()) {
        Arrival &front = m_arrivals.front();
        if (front.size <= need) {
            need -= front.size;
            m_lastArrivals.push_back(front);
            m_arrivals.pop_front();
        } else {
            m_lastArrivals.push_back({need, front.at});
            front.size -= need;
            need = 0;
        }
    }
    m_lastReadRepeated = qMin(m_repeated, int(taken.size()));
    m_repeated -= m_lastReadRepeated;
    qCDebug(lcWire) << "rx" << taken.toHex(' ');
    if (m_input.isEmpty())
        drained();
    neededChanged();
    return taken;
}

QDateTime SerialPort::arrivalOf(qsizetype offset) const
{
    qsizetype end = 0;
    for (const Arrival &a : m_lastArrivals) {
        end += a.size;
        if (offset < end)
            return a.at;
    }
    return m_lastArrivals.empty() ? m_clock() : m_lastArrivals.back().at;
}

void SerialPort::unread(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    m_input.prepend(bytes);
    // Put back from the end of the last read: they keep the time they came.
    qsizetype left = bytes.size();
    for (auto it = m_lastArrivals.rbegin(); it != m_lastArrivals.rend() && left > 0; ++it) {
        const qsizetype part = qMin(left, it->size);
        m_arrivals.push_front({part, it->at});
        left -= part;
    }
    if (left > 0)
        m_arrivals.push_front({left, m_clock()});
    m_repeated += int(bytes.size());
    neededChanged();
}

bool SerialPort::write(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    qCDebug(lcWire) << "tx" << bytes.toHex(' ');
    return writeToDevice(bytes);
}

void SerialPort::setModalGate(ModalGate *gate)
{
    if (m_gate)
        disconnect(m_gate, nullptr, this, nullptr);
    m_gate = gate;
    if (m_gate)
        connect(m_gate, &ModalGate::released, this, &SerialPort::scheduleCheck);
}

void SerialPort::deliver(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    m_input.append(bytes);
    m_arrivals.push_back({bytes.size(), m_clock()});
    if (m_input.size() > kBacklogLimit)
        trimBacklog();
    neededChanged();
    scheduleCheck();
}

void SerialPort::trimBacklog()
{
    // Down to half the bound at once, so a flood costs one trim per 32 KB.
    const qsizetype target = kBacklogLimit / 2;
    const qsizetype before = m_input.size();
    QList<Range> keep;
    if (m_trimmer)
        keep = m_trimmer(m_input);
    else
        keep.append({0, m_input.size()});
    // Oldest kept ranges go first while still over the target.
    qsizetype kept = 0;
    for (const Range &r : keep)
        kept += r.second;
    while (!keep.isEmpty() && kept > target) {
        const qsizetype excess = kept - target;
        Range &first = keep.first();
        if (first.second <= excess) {
            kept -= first.second;
            keep.removeFirst();
        } else { // only the start of the oldest range goes
            first.first += excess;
            first.second -= excess;
            kept -= excess;
        }
    }
    // Rebuild the input and its arrival times from the ranges kept (both in order).
    QByteArray input;
    input.reserve(kept);
    std::deque<Arrival> arrivals;
    auto piece = m_arrivals.cbegin();
    qsizetype pieceStart = 0;
    for (const Range &r : keep) {
        input.append(m_input.constData() + r.first, r.second);
        const qsizetype rangeEnd = r.first + r.second;
        while (piece != m_arrivals.cend() && pieceStart + piece->size <= r.first) {
            pieceStart += piece->size;
            ++piece;
        }
        while (piece != m_arrivals.cend() && pieceStart < rangeEnd) {
            const qsizetype from = qMax(pieceStart, r.first), to = qMin(pieceStart + piece->size, rangeEnd);
            if (!arrivals.empty() && arrivals.back().at == piece->at)
                arrivals.back().size += to - from;
            else
                arrivals.push_back({to - from, piece->at});
            if (pieceStart + piece->size > rangeEnd)
                break; // the piece goes on past this range
            pieceStart += piece->size;
            ++piece;
        }
    }
    const bool keptTheStart = !keep.isEmpty() && keep.first().first == 0;
    m_repeated = keptTheStart ? int(qMin<qsizetype>(m_repeated, keep.first().second)) : 0;
    const qsizetype dropped = before - input.size();
    m_input = input;
    m_arrivals = std::move(arrivals);
    m_dropped += dropped;
}

void SerialPort::drained()
{
    if (m_dropped == 0)
        return;
    const qint64 dropped = m_dropped;
    m_dropped = 0;
    emit backlogDropped(dropped);
}

void SerialPort::scheduleCheck()
{
    if (m_checkQueued || m_threshold <= 0 || m_input.size() < m_threshold)
        return;
    m_checkQueued = true;
    QMetaObject::invokeMethod(this, &SerialPort::dispatch, Qt::QueuedConnection);
}

void SerialPort::dispatch()
{
    m_checkQueued = false;
    if (m_gate && m_gate->isOpen())
        return; // released() queues a new check when the box closes
    // A request may have cleared the buffer or raised the threshold meanwhile.
    if (m_threshold > 0 && m_input.size() >= m_threshold)
        emit commEvent(CommEvent::Receive);
}

} // namespace vx

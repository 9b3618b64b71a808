#include "Transmitter.h"

#include <algorithm>
#include <cmath>

namespace vxsim {

Transmitter::Transmitter(Write write, const Faults &faults, quint32 seed, QObject *parent)
    : QObject(parent), m_write(std::move(write)), m_faults(faults), m_rng(seed)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Transmitter::flush);
}

bool Transmitter::chance(double p)
{
    return p > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) < p;
}

double Transmitter::wireMs(qsizetype bytes) const
{
    if (!m_faults.pace || m_faults.baud <= 0)
        return 0;
    return double(bytes) * 10.0 * 1000.0 / m_faults.baud;
}

Transmitter::Sent Transmitter::send(const QByteArray &frame, double notBeforeMs)
{
    Sent sent;
    if (frame.isEmpty())
        return sent;
    if (chance(m_faults.drop)) {
        ++m_dropped;
        sent.dropped = true;
        return sent;
    }
    QByteArray bytes = frame;
    if (chance(m_faults.corrupt)) {
        const auto at = std::uniform_int_distribution<int>(0, int(bytes.size()) - 1)(m_rng);
        bytes[at] = char(bytes[at] ^ (1 << std::uniform_int_distribution<int>(0, 7)(m_rng)));
        ++m_corrupted;
        sent.corruptedByte = at;
    }
    if (chance(m_faults.noise)) {
        QByteArray noise;
        const int n = std::uniform_int_distribution<int>(1, 4)(m_rng);
        for (int i = 0; i < n; ++i)
            noise.append(char(std::uniform_int_distribution<int>(0, 255)(m_rng)));
        bytes.prepend(noise);
        sent.noiseBytes = n;
    }
    const int piece = m_faults.splitBytes > 0 ? m_faults.splitBytes : int(bytes.size());
    // Half duplex: a reply waits for the line to be free, and byte times stay
    // fractional so a paced line runs at its true rate.
    double t = std::max({nowMs() + m_faults.latencyMs, notBeforeMs + m_faults.latencyMs, m_lineFreeAt});
    for (qsizetype i = 0; i < bytes.size(); i += piece) {
        // Pauses between pieces count from when the previous piece really left.
        const int gap = i > 0 ? m_faults.gapMs : 0;
        if (i > 0)
            t += gap;
        const QByteArray part = bytes.mid(i, piece);
        if (!m_faults.pace || m_faults.baud <= 0) {
            enqueue({t, gap, part});
            continue;
        }
        // Ten bits a byte: each byte leaves when the line has carried the one before.
        const double msPerByte = wireMs(1);
        for (qsizetype b = 0; b < part.size(); ++b) {
            t += msPerByte;
            enqueue({t, b == 0 ? gap : 0, part.mid(b, 1)});
        }
    }
    m_lineFreeAt = t;
    return sent;
}

void Transmitter::enqueue(const Slice &slice)
{
    // Slices due together leave in one write.
    if (!m_queue.empty() && m_queue.back().notBefore == slice.notBefore && slice.gapMs == 0)
        m_queue.back().bytes += slice.bytes;
    else
        m_queue.push_back(slice);
    flush();
}

void Transmitter::flush()
{
    for (;;) {
        if (m_queue.empty())
            return;
        const Slice &head = m_queue.front();
        const double now = nowMs();
        const double due = std::max(head.notBefore, m_lastWriteAt + head.gapMs);
        if (due > now) {
            m_timer.start(int(std::ceil(due - now)));
            return;
        }
        m_write(head.bytes);
        m_lastWriteAt = now;
        m_queue.pop_front();
    }
}

} // namespace vxsim

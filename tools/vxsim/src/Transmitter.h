#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <random>

namespace vxsim {

// How replies reach the wire. Everything off by default.
struct Faults {
    int latencyMs = 0;     // before a reply starts
    bool pace = false;     // bytes at the line rate: baud / 10 bytes a second
    int baud = 9600;
    double drop = 0;       // probability a reply is not sent
    double corrupt = 0;    // probability one bit of a reply is flipped
    double noise = 0;      // probability 1-4 random bytes go out before a frame
    int splitBytes = 0;    // > 0: a reply goes out in pieces of this size ...
    int gapMs = 0;         // ... with this pause between pieces
};

// Schedules frames onto the wire with latency, pacing and faults.
class Transmitter : public QObject {
    Q_OBJECT
public:
    using Write = std::function<void(const QByteArray &)>;

    Transmitter(Write write, const Faults &faults, quint32 seed, QObject *parent = nullptr);

    // What became of a frame: for the log, so a test can count what the simulator did.
    struct Sent {
        bool dropped = false;
        int corruptedByte = -1;  // index in the frame of the flipped bit's byte
        int noiseBytes = 0;
    };
    // Queues a frame behind those already on their way; it starts no earlier
    // than notBeforeMs (on the clock of nowMs()).
    Sent send(const QByteArray &frame, double notBeforeMs = 0);

    // Time on the line of n bytes at the configured rate (ten bits a byte);
    // 0 when not paced.
    double wireMs(qsizetype bytes) const;

    // When the last queued byte is planned to have left (nowMs()'s clock).
    double lineFreeAt() const { return m_lineFreeAt; }
    int dropped() const { return m_dropped; }
    int corrupted() const { return m_corrupted; }
    double nowMs() const { return double(m_clock.nsecsElapsed()) / 1e6; }

private:
    // Bytes that leave no earlier than notBefore, and at least gapMs after the previous write.
    struct Slice {
        double notBefore;
        int gapMs;
        QByteArray bytes;
    };
    void enqueue(const Slice &slice);
    void flush();
    bool chance(double p);

    Write m_write;
    Faults m_faults;
    std::mt19937 m_rng;
    QElapsedTimer m_clock;
    QTimer m_timer;
    std::deque<Slice> m_queue;
    double m_lineFreeAt = 0;   // when the last queued byte is planned to leave
    double m_lastWriteAt = -1e9;
    int m_dropped = 0;
    int m_corrupted = 0;
};

} // namespace vxsim

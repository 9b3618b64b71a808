#pragma once

#include "core/frames/ModbusFrames.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTimer>

namespace vx {

class SerialPort;

// How the engine polls.
struct BusSettings {
    enum class Mode { Poll, Upload, Both };
    QList<int> addresses;      // polled in this order, cycle after cycle
    quint8 function = 0x03;
    quint16 start = 0;
    quint16 count = 18;
    // Devices read otherwise than the collectors (temperature/humidity transmitters).
    struct Read {
        quint8 function = 0x03;
        quint16 start = 0;
        quint16 count = 2;
    };
    QMap<int, Read> reads;
    qint32 baud = 9600;
    int timeoutMs = 0;         // 0: from the baud rate and the frame sizes, plus a margin
    int retries = 1;           // further tries of a request that got no good reply
    int cyclePeriodMs = 0;     // 0: the next cycle starts at once
    int backoffCeiling = 10;   // a silent device is polled at most every this many cycles
    Mode mode = Mode::Poll;

    // Ten bits a byte (8N1): the time n bytes take on the line.
    double byteMs() const { return baud > 0 ? 10000.0 / baud : 0; }
    // Request and longest reply on the wire, plus 3.5 character times and a margin for the device.
    int effectiveTimeoutMs() const;
    // The inter-frame silence: 3.5 character times, at least 1 ms.
    int silenceMs() const;
};

// What the engine counts for one device.
struct DeviceStats {
    qint64 requests = 0;
    qint64 goodReplies = 0;
    qint64 timeouts = 0;
    qint64 crcErrors = 0;
    qint64 exceptions = 0;
    qint64 uploads = 0;        // frames the device sent on its own
    QDateTime lastSeen;
    double responseMinMs = 0, responseMaxMs = 0, responseSumMs = 0;
    bool answering = true;     // until it misses a whole exchange
    int skipCycles = 0;        // cycles still skipped (back-off)
    int backoff = 0;           // cycles skipped after the next miss

    double responseMeanMs() const { return goodReplies > 0 ? responseSumMs / double(goodReplies) : 0; }
};

// A master on one serial line, as Modbus wants one: one request in flight,
// each reply framed by the length its function implies and checked
// (address, function, CRC), exception replies told apart, a response
// timeout and retries, and the next request as soon as the line has been
// silent for 3.5 character times. Devices that stop answering are polled
// less and less often, so the live ones keep the wire; one that answers
// again is back at once. Frames devices send on their own (31-byte function
// 3 frames) are taken whenever no reply is awaited.
class BusEngine : public QObject {
    Q_OBJECT
public:
    BusEngine(SerialPort &port, const BusSettings &settings, QObject *parent = nullptr);

    void start();
    // A write (a relay's coil) sent before the next poll, one exchange of its own; told by written().
    void write(const QByteArray &request);
    // Finishes (or abandons) the exchange in flight, then stops.
    void stop();
    bool running() const { return m_running; }

    const QMap<int, DeviceStats> &stats() const { return m_stats; }
    qint64 exchanges() const { return m_exchanges; }
    qint64 cycles() const { return m_cycles; }

signals:
    // A good read reply or an upload frame: its registers and when its last byte came.
    void readings(int address, const QList<quint16> &registers, const QDateTime &arrived, const QByteArray &frame);
    // The bytes received for one exchange (or one upload frame), for the raw log.
    void received(const QByteArray &bytes, const QDateTime &arrived);
    void deviceAnswering(int address, bool answering);
    // A device answered with an exception (a transmitter asked for what it does not have).
    void exceptionReply(int address, quint8 code);
    // A write's end: echoed by the device, or not (exception, silence, a wrong echo).
    void written(const QByteArray &request, bool ok);
    void cycleDone(qint64 cycle);
    void stopped();

private:
    void sendNext();
    void onReceive();
    void onTimeout();
    void finishExchange(bool answered);
    void takeUploads();
    bool nextAddress(int *address);
    void scheduleNext(int delayMs);
    void awaitBytes(int count);
    void transmit();
    void retransmitAfterSilence();

    SerialPort &m_port;
    BusSettings m_settings;
    QMap<int, DeviceStats> m_stats;
    QByteArray m_buffer;          // bytes received and not yet framed
    QByteArray m_exchangeBytes;   // everything received while the request in flight waited
    QDateTime m_lastArrival;
    QByteArray m_request;         // in flight; empty when idle
    bool m_requestIsWrite = false;
    QList<QByteArray> m_writes;   // waiting for the line
    int m_address = 0;
    int m_triesLeft = 0;
    int m_index = -1;             // position in the address list
    bool m_running = false;
    bool m_stopping = false;
    qint64 m_exchanges = 0;
    qint64 m_cycles = 0;
    QElapsedTimer m_sent;         // since the request in flight was written
    QElapsedTimer m_cycleClock;
    QTimer m_timeout;
    QTimer m_next;
};

} // namespace vx

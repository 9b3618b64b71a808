#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <functional>

namespace vx {

class ModalGate;

enum class CommEvent {
    Receive,   // at least the receive threshold's number of bytes are waiting
    Error,     // the port reported a failure (device gone, ...)
};

// The serial port as the handlers use it: port number and settings string,
// open/close, input length, buffer clearing and a receive threshold. The
// threshold logic lives here once; a transport only hands over the bytes it
// received (deliver) and writes bytes out.
//
// Receive threshold n >= 1: one Receive event once at least n bytes are
// waiting; 0: no events. The event is queued, so it always runs on the UI
// thread after the running handler has returned, and it waits while a modal
// box is open. A read takes every waiting byte, or at most the input length.
// Every operation is safe on a closed port.
//
// Each piece of input is stamped with the clock when it arrives, so a frame
// handled late (behind a box) keeps the time it came. What waits is bounded:
// past kBacklogLimit bytes, a trimmer given by the handler keeps what it can
// still use (whole frames), and the oldest bytes go first; what was dropped
// is counted and reported once, when the backlog has been worked through.
class SerialPort : public QObject {
    Q_OBJECT
public:
    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    void setPortNumber(int number) { m_portNumber = number; }
    int portNumber() const { return m_portNumber; }

    // "9600,N,8,1": baud rate, then parity, data bits, stop bits.
    void setSettings(const QString &settings);
    QString settings() const { return m_settings; }
    // Parsed once: the port asks for it with every request and reply.
    qint32 baudRate() const { return m_baudRate; }

    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The device the port opens (or opened), for the operator.
    virtual QString deviceName() const { return {}; }
    // Why the last open() failed, when the transport knows more than "no".
    virtual QString openError() const { return {}; }

    static constexpr qsizetype kBacklogLimit = 64 * 1024;

    // Ranges [start, start + length) of the waiting bytes worth keeping when
    // the backlog is over its bound, in order.
    using Range = std::pair<qsizetype, qsizetype>;
    using Trimmer = std::function<QList<Range>(const QByteArray &waiting)>;
    void setTrimmer(Trimmer trimmer) { m_trimmer = std::move(trimmer); }
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    void setInputLength(int length) { m_inputLength = qMax(0, length); }
    int inputLength() const { return m_inputLength; }
    // Reads always deliver raw bytes; kept so the send sequences read as written.
    void setBinaryInput() {}
    void setSendEvents(bool) {}

    // Discards every received byte not yet read, those the driver still holds included.
    void clearInput();
    // Discards the bytes this port has received and not handed out, leaving
    // what the driver holds to arrive as before: after a read, nothing newer is lost.
    void clearWaiting()
    {
        m_input.clear();
        m_arrivals.clear();
        m_repeated = 0;
        drained();
        neededChanged();
    }
    void clearOutput();

    void setThreshold(int threshold);
    int threshold() const { return m_threshold; }

    int bytesWaiting() const { return int(m_input.size()); }
    QByteArray read();
    // Takes at most maxBytes of the waiting input, leaving the rest to raise
    // its own event: a long backlog is worked through a batch at a time.
    QByteArray readBatch(qsizetype maxBytes);
    // When the byte at offset (0-based) of the last read arrived.
    QDateTime arrivalOf(qsizetype offset) const;
    // Puts bytes back in front of the waiting input, as if not yet read: the
    // start of a frame whose rest is still on the wire. They raise no event
    // of their own; clearing the input drops them.
    void unread(const QByteArray &bytes);
    // How many leading bytes of the last read had been read before (unread).
    int lastReadRepeated() const { return m_lastReadRepeated; }
    // Hands the whole array to the port; false when the port is closed or the write failed.
    bool write(const QByteArray &bytes);

    void setModalGate(ModalGate *gate);

signals:
    void commEvent(vx::CommEvent event);
    // Bytes dropped because the backlog overflowed, told once it has drained.
    void backlogDropped(qint64 bytes);

protected:
    // Called by the transport with bytes as they arrive, in any split.
    void deliver(const QByteArray &bytes);
    void discardWaiting()
    {
        m_input.clear();
        m_arrivals.clear();
        m_repeated = 0;
        neededChanged();
    }
    // How many more bytes the next receive event waits for (at least 1).
    int bytesNeeded() const { return qMax(1, m_threshold - int(m_input.size())); }
    // Called whenever bytesNeeded() may have changed: a transport may then
    // wake up only when that many bytes have come, not for every byte.
    virtual void neededChanged() {}
    virtual bool writeToDevice(const QByteArray &bytes) = 0;
    virtual void discardDeviceInput() {}
    virtual void discardDeviceOutput() {}

private:
    // A piece of input as it came: how many bytes, and when.
    struct Arrival {
        qsizetype size;
        QDateTime at;
    };
    static qint32 rateOf(const QString &settings);
    void scheduleCheck();
    void dispatch();
    QByteArray take(qsizetype count);
    void trimBacklog();
    void drained();

    int m_portNumber = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    qint32 m_baudRate = 9600;
    int m_inputLength = 0;
    int m_threshold = 0;
    QByteArray m_input;
    std::deque<Arrival> m_arrivals;       // covers m_input, in order
    std::deque<Arrival> m_lastArrivals;   // covered the last read
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTime(); };
    Trimmer m_trimmer;
    qint64 m_dropped = 0; // since the backlog last drained
    int m_repeated = 0; // leading bytes of m_input that were put back
    int m_lastReadRepeated = 0;
    bool m_checkQueued = false;
    QPointer<ModalGate> m_gate;
};

} // namespace vx

#pragma once

#include "core/link/SerialPort.h"

#include <QElapsedTimer>
#include <QList>

namespace vx::test {

// A serial port without a device: tests feed received bytes in any split
// and read back what was written.
class FakeSerialPort : public SerialPort {
    Q_OBJECT
public:
    struct OpenRecord {
        int portNumber;
        QString settings;
    };

    bool openable = true;   // open() succeeds
    bool stuckOpen = false; // close() leaves the port open (another program holds it)
    QList<QByteArray> written;
    QList<qint64> writtenAtNs; // when each write came, on a monotonic clock
    QList<OpenRecord> opens;

    bool open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    QString deviceName() const override { return QStringLiteral("fake%1").arg(portNumber()); }

    // Bytes arrive in one piece; the receive event (if any) is queued.
    void feed(const QByteArray &bytes) { deliver(bytes); }
    // Bytes arrive in pieces of pieceSize, with queued events processed between pieces.
    void feedInPieces(const QByteArray &bytes, int pieceSize);

    QByteArray lastWritten() const { return written.isEmpty() ? QByteArray() : written.last(); }

protected:
    bool writeToDevice(const QByteArray &bytes) override;

private:
    bool m_open = false;
    QElapsedTimer m_clock;
};

} // namespace vx::test

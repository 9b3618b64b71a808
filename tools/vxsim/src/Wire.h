#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace vxsim {

// Where the simulator talks: a pseudo-terminal of its own or a serial port.
class Wire : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool isOpen() const = 0;
    virtual void write(const QByteArray &bytes) = 0;
    virtual QString description() const = 0;

signals:
    void received(const QByteArray &bytes);
};

// Creates a pseudo-terminal; the program opens slavePath() (or the link).
class PtyWire : public Wire {
    Q_OBJECT
public:
    explicit PtyWire(const QString &link = QString(), QObject *parent = nullptr);
    ~PtyWire() override;
    bool isOpen() const override { return m_master >= 0; }
    void write(const QByteArray &bytes) override;
    QString description() const override { return m_slavePath; }
    QString slavePath() const { return m_slavePath; }
    QString error() const { return m_error; }

private:
    void onReadable();

    int m_master = -1;
    int m_slave = -1; // held open so the terminal outlives the program's reconnects
    QString m_slavePath;
    QString m_link;
    QString m_error;
    QSocketNotifier *m_notifier = nullptr;
};

// A real serial port (or any device path) at a baud rate, 8N1.
class SerialWire : public Wire {
    Q_OBJECT
public:
    SerialWire(const QString &path, int baud, QObject *parent = nullptr);
    bool isOpen() const override { return m_port.isOpen(); }
    void write(const QByteArray &bytes) override { m_port.write(bytes); }
    QString description() const override { return m_port.portName(); }
    QString error() const { return m_port.errorString(); }

private:
    QSerialPort m_port;
};

// The bus behind a serial device server in transparent mode: bytes on a TCP
// connection are the RTU frames. One client at a time, as a gateway in
// exclusive mode: a second one's connection is closed at once (refused), and
// the bus waits for the next client when the first goes.
class TcpWire : public Wire {
    Q_OBJECT
public:
    TcpWire(const QString &host, int port, QObject *parent = nullptr);
    bool isOpen() const override;
    void write(const QByteArray &bytes) override;
    QString description() const override;
    QString error() const { return m_error; }
    int refused() const { return m_refused; }

private:
    void onNewConnection();

    QTcpServer *m_server = nullptr;
    QTcpSocket *m_client = nullptr;
    QString m_error;
    int m_refused = 0;
};

} // namespace vxsim

#pragma once

#include "core/link/SerialPort.h"

#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

namespace vx {

// SerialPort on QSerialPort, or on a TCP connection to a serial device server
// when the device is "tcp://HOST:PORT". The port number is turned into a
// device by the resolver given at construction. Modem-control lines are never
// touched: setting DTR/RTS fails on pseudo-terminals.
//
// Over TCP, open() connects with a timeout while the event loop keeps
// running (user input held back), so the window paints and timers tick; the
// baud rate means nothing there. Keep-alive is on and Nagle off: a request
// leaves at once. A connection the gateway drops is reported as a vanished
// device is (CommEvent::Error).
class QtSerialPort : public SerialPort {
    Q_OBJECT
public:
    using Resolver = std::function<QString(int portNumber)>;

    explicit QtSerialPort(Resolver resolver, QObject *parent = nullptr);

    bool open() override;
    void close() override;
    bool isOpen() const override;
    QString deviceName() const override;
    QString openError() const override { return m_openError; }
    bool overTcp() const { return m_socket != nullptr; }
    // False while the terminal is left alone because what is awaited cannot be there yet.
    bool watchingTerminal() const { return !m_lookAgain.isActive(); }
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }

    // The share of a wait's wire time the terminal is next left alone for,
    // after a look that found everything awaited there or not. A look after a
    // request that finds the whole reply means the line is faster than its
    // rate (a pseudo-terminal) or the look was late: half as long next time.
    // A look for the rest of a reply already coming is timed by that rest's
    // own wire time, and finding it all there is what it was for.
    static double nextLookAwayShare(double share, bool afterRequest, bool allThere);

protected:
    bool writeToDevice(const QByteArray &bytes) override;
    void discardDeviceInput() override;
    void discardDeviceOutput() override;
    void neededChanged() override;

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    bool openTcp(const QString &device);
    void onSocketLost();

    void applyWakeAfter();
    void lookAway(int fd, int sentBefore);
    void lookedAgain();
    void judgeLookAway(int there);
    void watchTerminal(bool watch);
    void watchAgain();
    // Below this many bytes awaited the terminal is always watched.
    static constexpr int kLookAwayFrom = 8;

    Resolver m_resolver;
    QSerialPort m_port;
    QTimer m_lookAgain; // ends a pause in watching the terminal
    int m_lookAwayFor = 0;   // the bytes a pause waits for; 0: none running
    int m_lookAwaySaw = 0;   // bytes already in the terminal when it began
    bool m_lookAwayFromRequest = false; // it began at a request, not at a piece of its reply
    int m_sentSinceLook = 0; // request bytes written since the last decision
    bool m_firstPieceAwaited = false; // watching for the first byte of a reply
    bool m_linePaced = false; // replies seen to come in pieces, at a line's pace
    double m_lookAwayShare = 1.0; // of the wire time set by the baud rate, learnt
    qint32 m_lookAwayBaud = 0;    // the rate it was learnt at

    QTcpSocket *m_socket = nullptr;   // set while the device is a TCP one
    int m_connectTimeoutMs = 3000;
    QString m_openError;
    int m_wakeAfter = -1; // the terminal's VMIN as last set; -1: unknown
    bool m_wakeAfterQueued = false;
};

} // namespace vx

#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace vx {

// Modbus-RTU frames as a master sends and receives them: pure functions,
// bytes in and out. The CRC's low byte goes first on the wire.

// A read request (function 3 or 4): address, function, start, count, CRC.
QByteArray readRequest(quint8 address, quint8 function, quint16 start, quint16 count);

// Bytes of the reply a request implies: 5 + 2 x count for a read, 8 for a
// single write; 0 for a function this master does not ask.
int expectedReplyLength(const QByteArray &request);

// What the bytes received after a request hold.
struct ReplyCheck {
    enum class Status {
        Incomplete, // the rest may still come
        Good,       // a whole reply from the device asked, CRC checked
        Exception,  // a whole exception reply (function | 0x80), CRC checked
        Corrupt,    // whole, but the CRC fails
        Foreign,    // another address or function: not the answer to this request
    };
    Status status = Status::Incomplete;
    int length = 0;         // bytes of the frame (Good, Exception, Corrupt)
    quint8 exceptionCode = 0;
};

// Checks received bytes, from their first, against the reply a request
// implies: framed by the length its function implies (an exception reply is
// 5 bytes), then address, function and CRC.
ReplyCheck checkReply(const QByteArray &request, const QByteArray &received);

// The registers of a good read reply, big-endian.
QList<quint16> replyRegisters(const QByteArray &reply);

} // namespace vx

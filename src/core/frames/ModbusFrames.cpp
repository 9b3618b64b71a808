#include "core/frames/ModbusFrames.h"

#include "core/frames/Crc16.h"

namespace vx {

namespace {

quint16 word(const QByteArray &b, int at)
{
    return quint16(quint8(b[at]) << 8 | quint8(b[at + 1]));
}

bool crcMatches(const QByteArray &bytes, int length)
{
    const quint16 crc = crc16Modbus(bytes.constData(), length - 2);
    return quint8(bytes[length - 2]) == (crc & 0xFF) && quint8(bytes[length - 1]) == (crc >> 8);
}

} // namespace

QByteArray readRequest(quint8 address, quint8 function, quint16 start, quint16 count)
{
    QByteArray payload;
    payload.append(char(address)).append(char(function));
    payload.append(char(start >> 8)).append(char(start & 0xFF));
    payload.append(char(count >> 8)).append(char(count & 0xFF));
    return withCrc(payload);
}

int expectedReplyLength(const QByteArray &request)
{
    if (request.size() < 8)
        return 0;
    switch (quint8(request[1])) {
    case 0x03:
    case 0x04: {
        const int count = word(request, 4);
        return count >= 1 && count <= 125 ? 5 + 2 * count : 0;
    }
    case 0x05:
    case 0x06:
        return 8;
    default:
        return 0;
    }
}

ReplyCheck checkReply(const QByteArray &request, const QByteArray &received)
{
    using S = ReplyCheck::Status;
    ReplyCheck check;
    if (received.size() < 2)
        return check;
    const quint8 address = quint8(request[0]), function = quint8(request[1]);
    if (quint8(received[0]) != address) {
        check.status = S::Foreign;
        return check;
    }
    const quint8 got = quint8(received[1]);
    if (got == (function | 0x80)) {
        if (received.size() < 5)
            return check;
        check.length = 5;
        check.exceptionCode = quint8(received[2]);
        check.status = crcMatches(received, 5) ? S::Exception : S::Corrupt;
        return check;
    }
    if (got != function) {
        check.status = S::Foreign;
        return check;
    }
    const int length = expectedReplyLength(request);
    if (length == 0) {
        check.status = S::Foreign;
        return check;
    }
    // A read reply states its byte count: one that disagrees is no reply to this request.
    if ((function == 0x03 || function == 0x04) && received.size() >= 3 && quint8(received[2]) != length - 5) {
        check.status = S::Corrupt;
        check.length = 3;
        return check;
    }
    if (received.size() < length)
        return check;
    check.length = length;
    check.status = crcMatches(received, length) ? S::Good : S::Corrupt;
    return check;
}

QList<quint16> replyRegisters(const QByteArray &reply)
{
    QList<quint16> registers;
    if (reply.size() < 5)
        return registers;
    const int count = quint8(reply[2]) / 2;
    for (int k = 0; k < count && 4 + 2 * k < reply.size() - 2; ++k)
        registers.append(word(reply, 3 + 2 * k));
    return registers;
}

} // namespace vx

#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace vx {

// The four texts of the "MODBUS设置" panel.
struct QueryFields {
    QString stationId;  // txtStationID
    QString funId;      // txtFunID
    QString startId;    // txtStartID
    QString dataLength; // txtDataLength
};

struct QueryRequest {
    QByteArray frame;   // 8 bytes, CRC included
    qint16 recLen = 0;  // 2 x N + 5
};

// A request, or the message naming the first bad field.
struct QueryBuild {
    std::optional<QueryRequest> request;
    QString error;
};

// Validates the fields in the operator's order and builds the read request:
// address (whole part), function code (rounded half to even), 0, start
// register (whole part), 0, N (1..24). A byte that does not fit is sent as 0.
QueryBuild buildQuery(const QueryFields &fields);

QString kBadPeriodMessage(); // in the window's language

// The timer period of txtTimerSet: its whole part must lie in 10..60000; the
// period is the number rounded (half to even). Nothing when invalid.
std::optional<int> periodOf(const QString &text);

// Time on the line of a read request (8 bytes) and its reply of n registers
// (2n + 5 bytes) at a baud rate, ten bits a byte, in milliseconds.
double exchangeWireMs(int registers, qint32 baud);

// The status line for a timer period too short for the reply to arrive
// before the next request clears the input; empty when the period is enough.
QString shortPeriodNotice(int periodMs, double wireMs);

} // namespace vx

#include "core/frames/QueryFrame.h"

#include <QCoreApplication>

#include "core/frames/Crc16.h"
#include "core/records/NumberText.h"

#include <cmath>

namespace vx {

QString kBadPeriodMessage()
{
    return QCoreApplication::translate("vx", "你输入的定时时长格式有误，应该为数字，值范围为10-60000!");
}

namespace {
char byteOrZero(double whole)
{
    const auto b = num::byteOf(whole);
    return char(b ? *b : 0);
}
} // namespace

QueryBuild buildQuery(const QueryFields &fields)
{
    const auto station = num::numericValue(fields.stationId);
    if (!station)
        return {std::nullopt, QCoreApplication::translate("vx", "你输入的设备地址格式有误!")};
    const auto fun = num::numericValue(fields.funId);
    if (!fun)
        return {std::nullopt, QCoreApplication::translate("vx", "你输入的功能码格式有误!")};
    const auto length = num::numericValue(fields.dataLength);
    if (!length)
        return {std::nullopt, QCoreApplication::translate("vx", "你输入的数据长度格式有误!")};
    const auto start = num::numericValue(fields.startId);
    if (!start)
        return {std::nullopt, QCoreApplication::translate("vx", "你输入的起始地址格式有误!")};
    const auto n = num::inRange(num::wholePart(*length), 1, 24);
    if (!n)
        return {std::nullopt, QCoreApplication::translate("vx", "你输入的数据长度格式有误,正确的值应该为1-24!")};

    QByteArray payload(6, '\0');
    payload[0] = byteOrZero(num::wholePart(*station));
    payload[1] = byteOrZero(num::roundHalfEven(*fun));
    payload[3] = byteOrZero(num::wholePart(*start));
    payload[5] = char(*n);
    return {QueryRequest{withCrc(payload), qint16(2 * *n + 5)}, {}};
}

std::optional<int> periodOf(const QString &text)
{
    const auto v = num::numericValue(text);
    if (!v || !num::inRange(num::wholePart(*v), 10, 60000))
        return std::nullopt;
    return int(num::roundHalfEven(*v));
}

double exchangeWireMs(int registers, qint32 baud)
{
    if (baud <= 0 || registers <= 0)
        return 0;
    return (8.0 + 2.0 * registers + 5.0) * 10.0 * 1000.0 / baud;
}

QString shortPeriodNotice(int periodMs, double wireMs)
{
    if (periodMs >= wireMs)
        return {};
    return QCoreApplication::translate("vx", "定时时长小于通信时间(约 %1 ms)，回复将无法接收").arg(int(std::ceil(wireMs)));
}

} // namespace vx

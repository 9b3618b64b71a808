#include "core/frames/ConfigFrames.h"

#include <QCoreApplication>

#include "core/frames/Crc16.h"
#include "core/records/NumberText.h"

#include <array>

namespace vx {

namespace {

// Names and hints as written, translated when shown.
const char *const kRows[kParameterRows][2] = {
    {QT_TRANSLATE_NOOP("vx", "运行模式"), QT_TRANSLATE_NOOP("vx", "值范围为：0 为主从模式 1为主动上传模式，2为间歇性主从模式 ")},
    {QT_TRANSLATE_NOOP("vx", "休眠时间间隔"), QT_TRANSLATE_NOOP("vx", "值:1-65000，默认为22,约180秒,每个单位约8.912秒")},
    {QT_TRANSLATE_NOOP("vx", "开机待命时间间隔"), QT_TRANSLATE_NOOP("vx", "值:1-60000，默认为10,每个单位约1秒")},
    {QT_TRANSLATE_NOOP("vx", "开启无线模块电源延时时间"), QT_TRANSLATE_NOOP("vx", "值范围为：50-1000,默认200，每个单位约0.8mS")},
    {QT_TRANSLATE_NOOP("vx", "关闭无线模块断网延时时间"), QT_TRANSLATE_NOOP("vx", "值范围为：30-1000,默认50，每个单位约0.8mS")},
    {QT_TRANSLATE_NOOP("vx", "实际测点"), QT_TRANSLATE_NOOP("vx", "值范围为：1-36,主动上传时回复的测点总数")},
};

// The whole part of a numeric text when it fits a byte.
std::optional<quint8> addressByte(const QString &text)
{
    const auto v = num::numericValue(text);
    return v ? num::byteOf(num::wholePart(*v)) : std::nullopt;
}

QByteArray frame6(quint8 address, quint8 function, quint8 b2, quint8 b3, quint8 b4, quint8 b5)
{
    const char payload[6] = {char(address), char(function), char(b2), char(b3), char(b4), char(b5)};
    return withCrc(QByteArray(payload, 6));
}

} // namespace

QByteArray readAddressFrame()
{
    return frame6(0xFA, 0x25, 0x02, 0x00, 0x00, 0x01);
}

ConfigBuild buildAddressChange(const QString &oldAddress, const QString &targetAddress)
{
    if (!num::IsNumeric(oldAddress))
        return {std::nullopt, QCoreApplication::translate("vx", "你输入的原设备地址格式有误!")};
    if (!num::IsNumeric(targetAddress))
        return {std::nullopt, QCoreApplication::translate("vx", "你输入的目标设备地址格式有误!")};
    const auto from = addressByte(oldAddress);
    if (!from)
        return {std::nullopt, QCoreApplication::translate("vx", "你输入的原设备地址超出范围,正确的值应该为0-255!")};
    const auto to = addressByte(targetAddress);
    if (!to)
        return {std::nullopt, QCoreApplication::translate("vx", "你输入的目标设备地址超出范围,正确的值应该为0-255!")};
    return {frame6(*from, 0x06, 0x0B, 0x00, 0x00, *to), {}};
}

ParameterRow parameterRow(int row)
{
    const auto &texts = kRows[std::size_t(qBound(0, row, kParameterRows - 1))];
    return {QCoreApplication::translate("vx", texts[0]), QCoreApplication::translate("vx", texts[1])};
}

QByteArray buildParameterRead(const QString &stationId, int row)
{
    return frame6(addressByte(stationId).value_or(0), 0x04, quint8(row + 1), 0x00, 0x00, 0x01);
}

ConfigBuild buildParameterSet(const QString &stationId, int row, const QString &value)
{
    const auto address = addressByte(stationId);
    if (!address)
        return {std::nullopt, QCoreApplication::translate("vx", "你输入的设备地址格式有误,正确的值应该为0-255!")};
    const auto v = num::numericValue(value);
    const auto rounded = v ? num::inRange(num::roundHalfEven(*v), 0, 65535) : std::nullopt;
    if (!rounded)
        return {std::nullopt, QCoreApplication::translate("vx", "你输入的") + parameterRow(row).name
                                  + QCoreApplication::translate("vx", "格式有误,正确的值应该为0-65535!")};
    const auto word = quint16(*rounded);
    return {frame6(*address, 0x06, quint8(row + 1), 0x00, quint8(word >> 8), quint8(word & 0xFF)), {}};
}

} // namespace vx

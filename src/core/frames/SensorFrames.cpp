#include "core/frames/SensorFrames.h"

#include <QCoreApplication>

#include "core/frames/Crc16.h"
#include "core/records/NumberText.h"

namespace vx {

namespace {

QString kStation()
{
    return QCoreApplication::translate("vx", "设备地址");
}

QString outOfRange(const QString &field)
{
    return QCoreApplication::translate("vx", "你输入的%1超出范围,正确的值应该为0-255!").arg(field);
}

// The whole part of a text's leading number, when it fits a byte.
std::optional<quint8> leadingByte(const QString &text)
{
    return num::byteOf(num::wholePart(num::Val(text)));
}

// A numeric text rounded half to even, when it fits a byte.
std::optional<quint8> roundedByte(const QString &text)
{
    const auto v = num::numericValue(text);
    return v ? num::byteOf(num::roundHalfEven(*v)) : std::nullopt;
}

struct Field {
    const QString &text;
    QString name;
};

// Converts each field or names the first that does not fit.
template <class Convert, std::size_t N>
std::optional<QString> convert(const Field (&fields)[N], std::array<quint8, N> &out, Convert conv)
{
    for (std::size_t i = 0; i < N; ++i) {
        const auto b = conv(fields[i].text);
        if (!b)
            return outOfRange(fields[i].name);
        out[i] = *b;
    }
    return std::nullopt;
}

} // namespace

SensorBuild buildSerialRead(const QString &station, const QString &channel, const QString &count)
{
    const Field fields[] = {{station, kStation()}, {channel, QCoreApplication::translate("vx", "通道号")},
                            {count, QCoreApplication::translate("vx", "读取总数")}};
    std::array<quint8, 3> b{};
    if (const auto error = convert(fields, b, leadingByte))
        return {std::nullopt, *error};
    const char payload[6] = {char(b[0]), 0x22, 0x02, char(b[1]), 0x00, char(b[2])};
    return {withCrc(QByteArray(payload, 6)), {}};
}

bool namesAChannel(const QString &channelText)
{
    return num::wholePart(num::Val(channelText)) != 0;
}

SensorBuild buildSearch(const QString &station, const QString &firstChannel, const QString &channelCount)
{
    const Field fields[] = {{station, kStation()}, {firstChannel, QCoreApplication::translate("vx", "通道号")},
                            {channelCount, QCoreApplication::translate("vx", "通道数")}};
    std::array<quint8, 3> b{};
    if (const auto error = convert(fields, b, roundedByte))
        return {std::nullopt, *error};
    const char payload[6] = {char(b[0]), 0x06, 0x0C, char(b[1]), 0x01, char(b[2])};
    return {withCrc(QByteArray(payload, 6)) + QByteArray(1, '\0'), {}};
}

SensorBuild buildSerialWrite(const QString &station, const QString &channel, const QString &position,
                             const std::array<QString, 8> &boxes)
{
    const Field fields[] = {{station, kStation()}, {channel, QCoreApplication::translate("vx", "通道号")},
                            {position, QCoreApplication::translate("vx", "传感器序号")}};
    std::array<quint8, 3> b{};
    if (const auto error = convert(fields, b, leadingByte))
        return {std::nullopt, *error};
    QByteArray payload;
    payload.append(char(b[0])).append(char(0x22)).append(char(0x0C)).append(char(b[1])).append(char(b[2]));
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const auto byte = hexByte(boxes[i]);
        if (!byte)
            return {std::nullopt,
                    QCoreApplication::translate("vx", "你输入的序列号第%1个字节格式有误,正确的值应该为00-FF!").arg(i + 1)};
        payload.append(char(*byte));
    }
    return {withCrc(payload), {}};
}

SensorBuild buildReadIn(const QString &station, const QString &channel, const QString &position)
{
    const Field fields[] = {{station, kStation()}, {channel, QCoreApplication::translate("vx", "通道号")},
                            {position, QCoreApplication::translate("vx", "位置编号")}};
    std::array<quint8, 3> b{};
    if (const auto error = convert(fields, b, leadingByte))
        return {std::nullopt, *error};
    const char payload[6] = {char(b[0]), 0x22, 0x01, char(b[1]), char(b[2]), 0x04};
    return {withCrc(QByteArray(payload, 6)), {}};
}

std::optional<quint8> hexByte(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 2)
        return std::nullopt;
    bool ok = false;
    const uint v = t.toUInt(&ok, 16);
    if (!ok || t.startsWith(QLatin1Char('+')) || t.startsWith(QLatin1Char('-')))
        return std::nullopt;
    return quint8(v);
}

QString plainNumber(double value)
{
    return QString::number(value, 'g', 15);
}

} // namespace vx

#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace vx {

// The bytes to write, or the message naming the field that stops them.
struct SensorBuild {
    std::optional<QByteArray> wire;
    QString error;
};

// Read the first count serial numbers of a channel (0x22 0x02). Each field is
// the whole part of its text's leading number and must fit a byte.
SensorBuild buildSerialRead(const QString &station, const QString &channel, const QString &count);

// Whether a channel box names a channel: its leading number's whole part is not 0.
bool namesAChannel(const QString &channelText);

// Search channels first..first+count-1 (0x06 0x0C): each text is a number
// rounded half to even into a byte. Nine bytes: the frame and a trailing 0x00.
SensorBuild buildSearch(const QString &station, const QString &firstChannel, const QString &channelCount);

// Write one serial number to a channel position (0x22 0x0C, 15 bytes). The
// eight boxes each hold a hexadecimal byte.
SensorBuild buildSerialWrite(const QString &station, const QString &channel, const QString &position,
                             const std::array<QString, 8> &boxes);

// Have the device read in the sensor on a channel at a position (0x22 0x01).
SensorBuild buildReadIn(const QString &station, const QString &channel, const QString &position);

// A box's text as one hexadecimal byte ("28", "0", "ff"); nothing otherwise.
std::optional<quint8> hexByte(const QString &text);

// A number as the operator would write it: 2 -> "2", 2.5 -> "2.5".
QString plainNumber(double value);

} // namespace vx

#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace vx {

// A request ready to send, or the message naming the field that stops it.
struct ConfigBuild {
    std::optional<QByteArray> frame;
    QString error;
};

// The address read never varies: FA 25 02 00 00 01 99 FE, to the fixed address 250.
QByteArray readAddressFrame();

// Change the device at the old address to the target address (register 0x0B00).
// Both texts must be numeric, and their whole parts must fit a byte.
ConfigBuild buildAddressChange(const QString &oldAddress, const QString &targetAddress);

// The six operating parameters, rows 0..5, at registers (row + 1) * 256.
constexpr int kParameterRows = 6;
struct ParameterRow {
    QString name;
    QString hint;
};
ParameterRow parameterRow(int row);

// Read parameter row (function 0x04, one register). An address text that is
// not a number fitting a byte is sent as address 0.
QByteArray buildParameterRead(const QString &stationId, int row);

// Set parameter row (function 0x06) to the value rounded half to even.
// The address must be a number whose whole part fits a byte; the value must
// be a number that rounds into 0..65535.
ConfigBuild buildParameterSet(const QString &stationId, int row, const QString &value);

} // namespace vx

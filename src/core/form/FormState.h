#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

namespace vx {

// Which reply the system now awaits (the form-level CmdKind). Any 16-bit
// value may be stored; only these have a meaning.
enum class Kind : qint16 {
    None = 0,          // start-up, no request yet
    Measurement = 1,   // data query, cycle, active upload, and after every reply
    ReadIn = 2,        // manual read-in of one sensor
    ReadSerials = 3,   // reading stored serial numbers
    WriteAck = 5,      // address change, parameter set
    WriteSerial = 6,   // writing one serial number
    Search = 10,       // automatic sensor search
    ReadParameter = 13,
    ReadAddress = 15,
};

// Highest reply address the receive side accepts (the grid has 40 columns,
// but replies from 37 and up are never shown).
constexpr int kMaxReplyAddress = 36;
constexpr int kDeviceColumns = 40;
constexpr int kPointsPerDevice = 18;
constexpr int kValueBoxes = kDeviceColumns * kPointsPerDevice;

// Form-level state of the main window, shared by every handler. Counters
// that the window shows (lblCounter, ...) live in their captions instead.
struct FormState {
    Kind CmdKind = Kind::None;
    qint16 RecLen = 31;      // reply length the last request expects
    qint16 CmdLenth = 0;     // second copy, set by the serial-number requests
    qint16 StatFlag = 0;     // -1 after the port was opened, 0 after a send found it closed
    qint16 SensorMax = 18;
    qint16 Routerid = 0;
    qint16 CommNum = 0;
    qint16 CommRate = 0;
    QString HexText;
    std::array<qint32, 37> RecCount{}; // index = device address - 1
    std::array<QString, 65> FoundSn;
    std::array<QString, 129> SnList;   // entries 1..128; 0 unused
    qint16 ChennelNum = 0;
    int SetIndex = 0;
};

} // namespace vx

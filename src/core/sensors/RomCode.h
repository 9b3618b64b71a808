#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace vx {

// Dallas/Maxim 1-Wire CRC-8: x^8 + x^5 + x^4 + 1, reflected (0x8C), initial 0.
quint8 dallasCrc8(const QByteArray &bytes);

// What a 64-bit 1-Wire ROM code says about itself: family code in byte 0,
// 48-bit serial, CRC-8 of the first seven bytes in byte 7.
enum class RomVerdict { Good, BadCrc, UnknownFamily, NoSensor };

struct RomCheck {
    RomVerdict verdict = RomVerdict::Good;
    QString family;   // "DS18B20", ... or "unknown family"
    QString reason;   // for the operator, empty when good
};

RomCheck checkRomCode(const QByteArray &code);
// The code of a text "28 FF 4A 3B 05 00 00 9C" (eight hex bytes, single spaces); nothing otherwise.
std::optional<QByteArray> romCodeOfText(const QString &text);
QString familyName(quint8 familyCode);

// A shown or imported list of codes, position 1 first, checked as a whole.
struct CodeFinding {
    int position = 0;       // 1-based
    RomCheck check;
    QString duplicateOf;    // where else the code is ("位置03", or a place from the sensor map)
    bool fails() const { return check.verdict != RomVerdict::Good || !duplicateOf.isEmpty(); }
    QString reason() const;
};

struct CodeListCheck {
    QList<CodeFinding> findings;   // one per code, in order
    int good = 0, badCrc = 0, unknownFamily = 0, noSensor = 0, duplicates = 0;
    // "良好 5，CRC 错误 1，未知器件族 0，重复 1" (and no-sensor codes when there are some)
    QString summary() const;
    // The failing positions, one line each, for the message before writing.
    QString problems() const;
};

// known: codes recorded elsewhere (sensor map), code text -> where; a code
// recorded at this list's own place for that position (samePlace) is the same sensor.
CodeListCheck checkCodeList(const QStringList &codes, const QMap<QString, QString> &known = {},
                            const QMap<int, QString> &samePlace = {});

} // namespace vx

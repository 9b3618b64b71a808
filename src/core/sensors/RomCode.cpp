#include "core/sensors/RomCode.h"

#include <QCoreApplication>

#include "core/frames/HexText.h"

namespace vx {

quint8 dallasCrc8(const QByteArray &bytes)
{
    quint8 crc = 0;
    for (char c : bytes) {
        quint8 byte = quint8(c);
        for (int bit = 0; bit < 8; ++bit) {
            const bool mix = (crc ^ byte) & 0x01;
            crc >>= 1;
            if (mix)
                crc ^= 0x8C;
            byte >>= 1;
        }
    }
    return crc;
}

QString familyName(quint8 familyCode)
{
    switch (familyCode) {
    case 0x28: return QStringLiteral("DS18B20");
    case 0x10: return QStringLiteral("DS18S20");
    case 0x22: return QStringLiteral("DS1822");
    case 0x3B: return QStringLiteral("DS1825/MAX31850");
    default: return QStringLiteral("unknown family");
    }
}

RomCheck checkRomCode(const QByteArray &code)
{
    RomCheck check;
    if (code.size() != 8) {
        check.verdict = RomVerdict::NoSensor;
        check.reason = QCoreApplication::translate("vx", "不是 8 字节的序列号");
        return check;
    }
    if (code == QByteArray(8, '\0') || code == QByteArray(8, '\xFF')) {
        check.verdict = RomVerdict::NoSensor;
        check.family = familyName(quint8(code[0]));
        check.reason = code[0] == 0 ? QCoreApplication::translate("vx", "无传感器（全 00）") : QCoreApplication::translate("vx", "无传感器（全 FF）");
        return check;
    }
    check.family = familyName(quint8(code[0]));
    const quint8 crc = dallasCrc8(code.left(7));
    if (crc != quint8(code[7])) {
        check.verdict = RomVerdict::BadCrc;
        check.reason = QCoreApplication::translate("vx", "CRC-8 校验错误：末字节 %1，应为 %2").arg(FormatHex(quint8(code[7])), FormatHex(crc));
        return check;
    }
    if (check.family == QLatin1String("unknown family")) {
        check.verdict = RomVerdict::UnknownFamily;
        check.reason = QCoreApplication::translate("vx", "未知器件族 %1").arg(FormatHex(quint8(code[0])));
    }
    return check;
}

std::optional<QByteArray> romCodeOfText(const QString &text)
{
    const QStringList fields = text.trimmed().split(QLatin1Char(' '));
    if (fields.size() != 8)
        return std::nullopt;
    QByteArray code;
    for (const QString &f : fields) {
        bool ok = false;
        const uint v = f.toUInt(&ok, 16);
        if (!ok || f.size() != 2 || v > 0xFF)
            return std::nullopt;
        code.append(char(v));
    }
    return code;
}

QString CodeFinding::reason() const
{
    QStringList parts;
    if (check.verdict != RomVerdict::Good)
        parts << check.reason;
    if (!duplicateOf.isEmpty())
        parts << QCoreApplication::translate("vx", "重复：与%1相同").arg(duplicateOf);
    return parts.join(QStringLiteral("；"));
}

CodeListCheck checkCodeList(const QStringList &codes, const QMap<QString, QString> &known,
                            const QMap<int, QString> &samePlace)
{
    CodeListCheck result;
    QMap<QString, int> first; // code -> first position
    for (int i = 0; i < codes.size(); ++i) {
        CodeFinding f;
        f.position = i + 1;
        const QString text = codes[i].trimmed().toUpper();
        const auto code = romCodeOfText(text);
        if (!code) {
            f.check.verdict = RomVerdict::NoSensor;
            f.check.reason = QCoreApplication::translate("vx", "不是 8 字节的序列号");
        } else {
            f.check = checkRomCode(*code);
        }
        if (f.check.verdict != RomVerdict::NoSensor) {
            if (first.contains(text))
                f.duplicateOf = QCoreApplication::translate("vx", "位置%1").arg(first[text], 2, 10, QLatin1Char('0'));
            else if (known.contains(text) && samePlace.value(f.position) != text)
                f.duplicateOf = known[text];
            first.insert(text, first.value(text, f.position));
        }
        switch (f.check.verdict) {
        case RomVerdict::Good: break;
        case RomVerdict::BadCrc: ++result.badCrc; break;
        case RomVerdict::UnknownFamily: ++result.unknownFamily; break;
        case RomVerdict::NoSensor: ++result.noSensor; break;
        }
        if (!f.duplicateOf.isEmpty())
            ++result.duplicates;
        if (!f.fails())
            ++result.good;
        result.findings.append(f);
    }
    return result;
}

QString CodeListCheck::summary() const
{
    QString text = QCoreApplication::translate("vx", "良好 %1，CRC 错误 %2，未知器件族 %3，重复 %4").arg(good).arg(badCrc).arg(unknownFamily).arg(duplicates);
    if (noSensor > 0)
        text += QCoreApplication::translate("vx", "，无传感器 %1").arg(noSensor);
    return text;
}

QString CodeListCheck::problems() const
{
    QStringList lines;
    for (const CodeFinding &f : findings)
        if (f.fails())
            lines << QCoreApplication::translate("vx", "位置%1：%2").arg(f.position, 2, 10, QLatin1Char('0')).arg(f.reason());
    return lines.join(QLatin1Char('\n'));
}

} // namespace vx

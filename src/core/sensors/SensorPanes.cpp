#include "core/sensors/SensorPanes.h"

#include <QCoreApplication>

#include "core/frames/HexText.h"
#include "core/records/NumberText.h"
#include "core/frames/SensorFrames.h"

#include <cmath>

namespace vx {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
constexpr quint8 kFamilyCode = 0x28; // DS18B20 temperature sensors
}

SerialReadPanes serialReadPanes(const QString &station, const QString &channel, const QString &countText,
                                const QByteArray &reply)
{
    SerialReadPanes panes;
    panes.sn = num::twoDigitsText(station) + QCoreApplication::translate("vx", "#设备,通道") + num::twoDigitsText(channel)
        + QCoreApplication::translate("vx", "下：") + kCrLf + countText + kCrLf;
    panes.showId = QStringLiteral("  ") + kCrLf + kCrLf;
    const double count = num::wholePart(num::Val(countText));
    for (qint64 i = 0; i < count; ++i) {
        panes.showId += num::twoDigits(i + 1) + kCrLf;
        const qint64 k = 3 + 8 * i;
        for (int j = 0; j < 8; ++j) {
            if (k + j >= reply.size()) {
                panes.complete = false;
                return panes;
            }
            panes.sn += (j == 0 ? QStringLiteral("\"") : QStringLiteral(" ")) + FormatHex(quint8(reply[k + j]));
        }
        panes.found.append(serialText(reply.mid(k, 8)));
        panes.sn += quint8(reply[k]) == kFamilyCode ? QStringLiteral("\"") + kCrLf
                                                     : QCoreApplication::translate("vx", "\"  [无效]") + kCrLf;
    }
    return panes;
}

QString searchPane(const QString &station, const QString &firstChannel, const QString &channelCount,
                   const QByteArray &reply)
{
    QString text = num::twoDigitsText(station) + QCoreApplication::translate("vx", "#设备下：") + kCrLf;
    const auto count = num::numericValue(channelCount);
    const double channels = count ? num::roundHalfEven(*count) : 0;
    const double first = num::Val(firstChannel);
    // Only channels whose count byte arrived get a line.
    const qint64 lines = qint64(std::fmin(channels, double(reply.size() - 3)));
    for (qint64 j = 0; j < lines; ++j) {
        text += QCoreApplication::translate("vx", "通道") + plainNumber(first + double(j)) + QCoreApplication::translate("vx", " 发现传感器个数为：")
            + num::twoDigits(quint8(reply[3 + j])) + kCrLf;
    }
    return text;
}

QString writeResultLine(const QString &channel, const QString &position, bool succeeded)
{
    return QCoreApplication::translate("vx", "导入到 ") + num::twoDigitsText(channel) + QCoreApplication::translate("vx", "通道 ")
        + num::twoDigitsText(position) + (succeeded ? QCoreApplication::translate("vx", "#位置 [成功]") : QCoreApplication::translate("vx", "#位置 [失败]"))
        + kCrLf;
}

} // namespace vx

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vx {

// The two panes after a serial-number read reply, and what it stored.
struct SerialReadPanes {
    QString sn;          // txtSn: header, then one quoted line per serial number
    QString showId;      // txtShowID: one position number beside each line
    QStringList found;   // entry i for position i + 1, as "28 FF 4A 3B 05 00 00 9C"
    bool complete = true; // false: the reply ended before the count's last entry
};

// station, channel and countText are the boxes' texts when the reply is handled.
SerialReadPanes serialReadPanes(const QString &station, const QString &channel, const QString &countText,
                                const QByteArray &reply);

// txtSn after a search reply: "02#设备下：", then "通道1 发现传感器个数为：03" per
// channel whose count byte arrived.
QString searchPane(const QString &station, const QString &firstChannel, const QString &channelCount,
                   const QByteArray &reply);

// The line a write reply adds: "导入到 01通道 05#位置 [成功]" CR LF.
QString writeResultLine(const QString &channel, const QString &position, bool succeeded);

} // namespace vx

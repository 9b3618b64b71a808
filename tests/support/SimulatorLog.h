#pragma once

#include <QByteArray>
#include <QMap>
#include <QRegularExpression>

// What vxsim --verbose says it did, device by device: every request it
// answered (or not) and the fate of the reply.
struct SimulatorCounts {
    qint64 requests = 0, clean = 0, dropped = 0, corruptedHeader = 0, corruptedBody = 0;
    qint64 faulty() const { return dropped + corruptedHeader + corruptedBody; }
};

inline QMap<int, SimulatorCounts> simulatorCounts(const QByteArray &log)
{
    QMap<int, SimulatorCounts> did;
    static const QRegularExpression line(QStringLiteral("^vxsim: ([0-9a-f]{2}) [0-9a-f ]+ -> [0-9a-f ]+?( \\[.*)?$"));
    static const QRegularExpression corrupted(QStringLiteral("\\[corrupted byte (\\d+)\\]"));
    for (const QByteArray &raw : log.split('\n')) {
        const auto m = line.match(QString::fromLatin1(raw));
        if (!m.hasMatch())
            continue;
        SimulatorCounts &d = did[m.captured(1).toInt(nullptr, 16)];
        ++d.requests;
        const QString fate = m.captured(2);
        const auto c = corrupted.match(fate);
        if (fate.contains(QLatin1String("[dropped]")))
            ++d.dropped;
        else if (c.hasMatch())
            ++(c.captured(1).toInt() < 2 ? d.corruptedHeader : d.corruptedBody); // address or function byte: not this reply's header
        else
            ++d.clean;
    }
    return did;
}

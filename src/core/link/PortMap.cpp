#include "core/link/PortMap.h"

#include "core/platform/SafeFiles.h"

#include <QDir>
#include <QRegularExpression>

namespace vx {

PortMap::PortMap(const QString &programDir)
{
    // A FIFO, a device or a huge file is no mapping of ours: ignored, as a missing one.
    const FileRead conf = readRegularFile(QDir(programDir).filePath(QStringLiteral("ports.conf")), 64 * 1024);
    if (conf.problem == FileProblem::None)
        m_conf = parseConf(QString::fromUtf8(conf.bytes));
}

QString PortMap::deviceFor(int portNumber) const
{
    const QByteArray env = qgetenv(QStringLiteral("VXMON_COM%1").arg(portNumber).toLatin1().constData());
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    const auto it = m_conf.constFind(portNumber);
    if (it != m_conf.constEnd())
        return *it;
    return platformDefault(portNumber);
}

QMap<int, QString> PortMap::parseConf(const QString &text)
{
    static const QRegularExpression line(QStringLiteral("^\\s*COM(\\d{1,2})\\s*=\\s*(.*?)\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    QMap<int, QString> map;
    const auto lines = text.split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString l = raw.trimmed();
        if (l.isEmpty() || l.startsWith(QLatin1Char('#')))
            continue;
        const auto m = line.match(l);
        // A NUL would cut the device path short where the system reads it.
        if (!m.hasMatch() || m.captured(2).isEmpty() || m.captured(2).contains(QChar(0)))
            continue;
        const int n = m.captured(1).toInt();
        if (n >= 1 && n <= 16)
            map.insert(n, m.captured(2));
    }
    return map;
}

QString PortMap::platformDefault(int portNumber)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

} // namespace vx

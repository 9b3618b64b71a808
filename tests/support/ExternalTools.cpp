#include "ExternalTools.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

namespace vx::test {

SocatPair::SocatPair(const QString &socat)
{
    m_process.start(socat, {QStringLiteral("pty,raw,echo=0,link=") + a(),
                            QStringLiteral("pty,raw,echo=0,link=") + b()});
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000 && m_process.state() != QProcess::NotRunning) {
        if (QFileInfo::exists(a()) && QFileInfo::exists(b())) {
            m_ready = true;
            return;
        }
        QThread::msleep(10);
    }
}

SocatPair::~SocatPair()
{
    m_process.terminate();
    if (!m_process.waitForFinished(2000))
        m_process.kill();
    m_process.waitForFinished(1000);
}

QString runTool(const QString &program, const QStringList &arguments, int timeoutMs, int *exitCode)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromLocal8Bit(p.readAll());
}

} // namespace vx::test

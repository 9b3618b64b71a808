#include "PgServer.h"
#include "FreePort.h"

#include <QDir>
#include <QProcess>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString serverBinaries()
{
    const QDir lib(QStringLiteral("/usr/lib/postgresql"));
    for (const QString &version : lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed)) {
        const QString bin = lib.filePath(version + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return QString();
}

} // namespace

PgServer::~PgServer()
{
    if (m_running)
        stop();
}

bool PgServer::run(const QString &program, const QStringList &arguments, bool asServerUser)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (asServerUser && ::geteuid() == 0)
        p.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"),
                                                      m_bin + QLatin1Char('/') + program} + arguments);
    else
        p.start(m_bin + QLatin1Char('/') + program, arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_why = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(p.readAll()).trimmed());
        if (p.state() != QProcess::NotRunning)
            p.kill();
        return false;
    }
    return true;
}

bool PgServer::start()
{
    if (m_running)
        return true;
    if (!m_dir) {
        m_bin = serverBinaries();
        if (m_bin.isEmpty()) {
            m_why = QStringLiteral("no PostgreSQL server under /usr/lib/postgresql (package postgresql-15)");
            return false;
        }
        m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/vx-pg-XXXXXX"));
        if (!m_dir->isValid()) {
            m_why = QStringLiteral("no temporary directory");
            return false;
        }
        if (::geteuid() == 0) {
            const passwd *pw = ::getpwnam("postgres");
            if (!pw || ::chown(QFile::encodeName(m_dir->path()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
                m_why = QStringLiteral("running as root and there is no \"postgres\" user to run the server");
                return false;
            }
        }
        if (!run(QStringLiteral("initdb"), {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")),
                                            QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-U"),
                                            QStringLiteral("vx"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                                            QStringLiteral("--no-sync")},
                 true))
            return false;
        m_port = freeTcpPort();
    }
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-l"),
              m_dir->filePath(QStringLiteral("log")), QStringLiteral("-o"),
              QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1%3")
                  .arg(m_port)
                  .arg(m_dir->path(), m_durable ? QString() : QStringLiteral(" -c fsync=off")),
              QStringLiteral("-w"), QStringLiteral("start")},
             true))
        return false;
    m_running = true;
    return true;
}

bool PgServer::stop()
{
    if (!m_running)
        return true;
    m_running = false;
    return run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")),
                                          QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"),
                                          QStringLiteral("stop")},
               true);
}

QString PgServer::createDatabase()
{
    const QString name = QStringLiteral("vx%1").arg(++m_databases);
    if (!run(QStringLiteral("createdb"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                          QString::number(m_port), QStringLiteral("-U"), QStringLiteral("vx"), name},
             false))
        return QString();
    return QStringLiteral("postgresql://vx@127.0.0.1:%1/%2").arg(m_port).arg(name);
}

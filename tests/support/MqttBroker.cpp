#include "MqttBroker.h"
#include "FreePort.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>
#include <QDateTime>

#include <mosquitto.h>

#include <pwd.h>

MqttBroker::~MqttBroker()
{
    stop();
}

bool MqttBroker::start()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("mosquitto"))
                                .isEmpty()
                                ? QStringLiteral("/usr/sbin/mosquitto")
                                : QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
    if (!QFile::exists(program)) {
        m_why = QStringLiteral("no mosquitto program (Debian package mosquitto)");
        return false;
    }
    const bool first = !m_dir;
    if (first)
        m_dir = std::make_unique<QTemporaryDir>();
    // A port found free may be taken by another test's server before ours binds it (and a restart's port
    // while we were down): only our own broker saying it runs counts, and a first start tries another port.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (first) {
            m_port = freeTcpPort();
            const passwd *me = ::getpwuid(::getuid());
            QFile conf(m_dir->filePath(QStringLiteral("mosquitto.conf")));
            if (!conf.open(QIODevice::WriteOnly) || !me) {
                m_why = QStringLiteral("cannot write the broker's configuration");
                return false;
            }
            // As the user running the test (as root it would switch to "mosquitto",
            // who cannot write the temporary directory); nothing a subscriber
            // misses while it reconnects is dropped.
            const QString anonymous = m_listenerOptions.contains(QLatin1String("allow_anonymous"))
                                          ? QString()
                                          : QStringLiteral("allow_anonymous true\n");
            conf.write(QStringLiteral("listener %1 127.0.0.1\n%2%3\nuser %4\npersistence true\n"
                                      "persistence_location %5/\nmax_queued_messages 0\nautosave_interval 1\n")
                           .arg(m_port)
                           .arg(anonymous, m_listenerOptions, QString::fromLocal8Bit(me->pw_name), m_dir->path())
                           .toUtf8());
        }
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->start(program, {QStringLiteral("-c"), m_dir->filePath(QStringLiteral("mosquitto.conf"))});
        if (!m_process->waitForStarted(5000)) {
            m_why = m_process->errorString();
            return false;
        }
        QByteArray said;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000 && m_process->state() == QProcess::Running) {
            m_process->waitForReadyRead(50);
            said += m_process->readAll();
            if (said.contains(" running")) { // after its listeners are bound
                QTcpSocket probe;
                probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_port));
                if (probe.waitForConnected(1000))
                    return true;
            }
        }
        m_process->waitForFinished(1000);
        said += m_process->readAll();
        m_why = QStringLiteral("mosquitto did not listen on %1: %2").arg(m_port).arg(QString::fromLocal8Bit(said));
        if (!first || !said.contains("Address already in use"))
            return false;
    }
    return false;
}

bool MqttBroker::stop()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return true;
    m_process->terminate();
    if (!m_process->waitForFinished(5000)) {
        m_process->kill();
        m_process->waitForFinished(2000);
    }
    return true;
}

MqttSubscriber::MqttSubscriber(const QString &clientId, const QByteArray &filter, bool persistent) : m_filter(filter)
{
    mosquitto_lib_init();
    m_mosq = mosquitto_new(clientId.toUtf8().constData(), !persistent, this);
    mosquitto_connect_callback_set(m_mosq, &MqttSubscriber::onConnect);
    mosquitto_subscribe_callback_set(m_mosq, &MqttSubscriber::onSubscribe);
    mosquitto_message_callback_set(m_mosq, &MqttSubscriber::onMessage);
    mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
}

MqttSubscriber::~MqttSubscriber()
{
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, true);
    mosquitto_destroy(m_mosq);
}

void MqttSubscriber::setLogin(const QString &user, const QString &password)
{
    mosquitto_username_pw_set(m_mosq, user.toUtf8().constData(), password.toUtf8().constData());
}

void MqttSubscriber::setCaFile(const QString &caFile)
{
    mosquitto_tls_set(m_mosq, caFile.toLocal8Bit().constData(), nullptr, nullptr, nullptr, nullptr);
}

bool MqttSubscriber::connectTo(int port)
{
    if (mosquitto_connect(m_mosq, "127.0.0.1", port, 10) != MOSQ_ERR_SUCCESS)
        return false;
    return mosquitto_loop_start(m_mosq) == MOSQ_ERR_SUCCESS;
}

void MqttSubscriber::onConnect(struct mosquitto *mosq, void *self, int rc)
{
    if (rc == 0)
        mosquitto_subscribe(mosq, nullptr, static_cast<MqttSubscriber *>(self)->m_filter.constData(), 1);
}

void MqttSubscriber::onSubscribe(struct mosquitto *, void *self, int, int, const int *)
{
    auto *s = static_cast<MqttSubscriber *>(self);
    QMutexLocker lock(&s->m_mutex);
    s->m_subscribed = true;
}

void MqttSubscriber::onMessage(struct mosquitto *, void *self, const struct mosquitto_message *message)
{
    auto *s = static_cast<MqttSubscriber *>(self);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    if (s->m_countOnly) {
        // A frame's payload carries arrays; its "time" is when the collector took it.
        qint64 delay = -1;
        if (payload.contains("\"raw\":[")) {
            const qsizetype at = payload.indexOf("\"time\":\"");
            if (at >= 0) {
                const QByteArray time = payload.mid(at + 8, 24);
                delay = now - QDateTime::fromString(QString::fromLatin1(time), Qt::ISODateWithMs).toMSecsSinceEpoch();
            }
        }
        QMutexLocker lock(&s->m_mutex);
        ++s->m_count;
        if (delay >= 0)
            s->m_frameDelays.append(delay);
        return;
    }
    Message m{QByteArray(message->topic), payload, message->retain, now};
    QMutexLocker lock(&s->m_mutex);
    ++s->m_count;
    s->m_messages.append(m);
}

QList<qint64> MqttSubscriber::frameDelaysMs() const
{
    QMutexLocker lock(&m_mutex);
    return m_frameDelays;
}

bool MqttSubscriber::subscribed() const
{
    QMutexLocker lock(&m_mutex);
    return m_subscribed;
}

QList<MqttSubscriber::Message> MqttSubscriber::messages() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages;
}

QList<MqttSubscriber::Message> MqttSubscriber::on(const QByteArray &topic) const
{
    QList<Message> result;
    QMutexLocker lock(&m_mutex);
    for (const Message &m : m_messages)
        if (m.topic == topic)
            result.append(m);
    return result;
}

int MqttSubscriber::count() const
{
    QMutexLocker lock(&m_mutex);
    return m_count;
}

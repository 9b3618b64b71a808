#pragma once

#include "RequireServer.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

struct mosquitto;

// A mosquitto broker of the test's own: a configuration in a temporary
// directory, a free port of 127.0.0.1, persistence on (so a restart keeps
// persistent sessions and what is queued for them), stopped at the end.
class MqttBroker {
public:
    MqttBroker() = default;
    ~MqttBroker();
    MqttBroker(const MqttBroker &) = delete;
    MqttBroker &operator=(const MqttBroker &) = delete;

    // Lines for the listener (TLS files, a password file, allow_anonymous false), before the first start.
    void setListenerOptions(const QString &lines) { m_listenerOptions = lines; }
    // Starts it (again on the same port after stop()); false and why() when it cannot.
    bool start();
    // SIGTERM: it saves its sessions and closes every connection.
    bool stop();
    bool running() const { return m_process && m_process->state() == QProcess::Running; }
    QString why() const { return m_why; }
    int port() const { return m_port; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    QString m_why;
    QString m_listenerOptions;
};

// A subscriber on libmosquitto's own thread, with a persistent session and
// QoS 1: what the broker delivers is kept, in arrival order; it reconnects
// by itself when the broker comes back.
class MqttSubscriber {
public:
    struct Message {
        QByteArray topic, payload;
        bool retained = false;
        qint64 receivedMs = 0;
    };
    MqttSubscriber(const QString &clientId, const QByteArray &filter, bool persistent = true);
    ~MqttSubscriber();
    // Before connectTo(): a user and password, TLS with a CA file.
    void setLogin(const QString &user, const QString &password);
    void setCaFile(const QString &caFile);
    bool connectTo(int port);
    bool subscribed() const;
    QList<Message> messages() const;
    // Messages whose topic is exactly `topic`.
    QList<Message> on(const QByteArray &topic) const;
    int count() const;
    // Counts only (and the arrival delays of frames, from their "time"): for
    // benchmarks that would not hold millions of messages.
    void setCountOnly(bool countOnly) { m_countOnly = countOnly; }
    QList<qint64> frameDelaysMs() const;

private:
    static void onConnect(struct mosquitto *, void *self, int rc);
    static void onSubscribe(struct mosquitto *, void *self, int, int, const int *);
    static void onMessage(struct mosquitto *, void *self, const struct mosquitto_message *message);
    struct mosquitto *m_mosq = nullptr;
    QByteArray m_filter;
    mutable QMutex m_mutex;
    QList<Message> m_messages;
    bool m_subscribed = false;
    bool m_countOnly = false;
    int m_count = 0;
    QList<qint64> m_frameDelays;
};

#define VX_REQUIRE_BROKER(server) VX_REQUIRE_SERVER(server, "mosquitto")

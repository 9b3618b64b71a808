#pragma once

#include "RequireServer.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// A PostgreSQL server of the test's own: initdb and pg_ctl in a temporary
// directory, on a free port of 127.0.0.1, trust authentication, stopped at
// the end. PostgreSQL refuses to run as root, so as root it runs as the
// "postgres" user.
class PgServer {
public:
    PgServer() = default;
    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    // Creates the cluster (the first time) and starts it; false and why() when it cannot.
    bool start();
    // Tests run without fsync; a benchmark wants the server as it would run.
    void setDurable(bool durable) { m_durable = durable; }
    // A fast shutdown: connections are cut, as when a server goes away.
    bool stop();
    bool running() const { return m_running; }
    QString why() const { return m_why; }
    int port() const { return m_port; }

    // A new empty database, as a postgresql:// URL; empty (and why()) on failure.
    QString createDatabase();

private:
    bool run(const QString &program, const QStringList &arguments, bool asServerUser);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_bin;
    int m_port = 0;
    int m_databases = 0;
    bool m_running = false;
    bool m_durable = false;
    QString m_why;
};

#define VX_REQUIRE_PG(server) VX_REQUIRE_SERVER(server, "PostgreSQL")

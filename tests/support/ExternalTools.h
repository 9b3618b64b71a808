#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

namespace vx::test {

// Tests that need a tool nobody here wrote: without it they skip, except
// under CI=true, where a missing tool is a failure rather than a silent pass.
#define VX_REQUIRE_TOOL(var, name)                                                              \
    const QString var = QStandardPaths::findExecutable(QStringLiteral(name));                   \
    do {                                                                                        \
        if (var.isEmpty()) {                                                                    \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                            \
                QFAIL(name " is not installed (scripts/test installs it)");                     \
            QSKIP(name " is not installed (scripts/test installs it)");                         \
        }                                                                                       \
    } while (false)

// Two linked pseudo-terminals made by socat: what is written on one end is
// read on the other. Both ends are symlinks in a directory of their own.
class SocatPair {
public:
    explicit SocatPair(const QString &socat);
    ~SocatPair();
    bool isReady() const { return m_ready; }
    QString a() const { return m_dir.filePath(QStringLiteral("a")); }
    QString b() const { return m_dir.filePath(QStringLiteral("b")); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    bool m_ready = false;
};

// Runs a command to its end (at most timeoutMs); returns its standard output.
QString runTool(const QString &program, const QStringList &arguments, int timeoutMs = 10000,
                int *exitCode = nullptr);

} // namespace vx::test

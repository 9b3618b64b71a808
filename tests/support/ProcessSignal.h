#pragma once

#include <QProcess>

#include <csignal>

// A signal to a child that is still running. kill() of the pid of one that
// has ended (QProcess then says 0) would signal the test's own process group.
inline void signalProcess(QProcess &process, int signal)
{
    if (process.state() != QProcess::NotRunning && process.processId() > 0)
        ::kill(pid_t(process.processId()), signal);
}

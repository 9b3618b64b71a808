#pragma once

#include "RequireServer.h"

#include <QString>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

// A tmpfs of `kib` KiB at `dir`, in a mount namespace of the calling thread's
// own (so nothing outside sees it; children started after inherit it): a disk
// a test can fill. Needs root.
struct SmallDisk {
    QString dir;
    QString why;
    bool mounted = false;

    bool mount(const QString &path, int kib)
    {
        dir = path;
        if (::geteuid() != 0)
            return (why = QStringLiteral("mounting needs root")), false;
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return (why = QStringLiteral("no mount namespace: %1").arg(QString::fromLocal8Bit(strerror(errno)))), false;
        const QByteArray options = "size=" + QByteArray::number(kib) + "k,mode=0755";
        if (::mount("tmpfs", dir.toLocal8Bit().constData(), "tmpfs", 0, options.constData()) != 0)
            return (why = QStringLiteral("tmpfs: %1").arg(QString::fromLocal8Bit(strerror(errno)))), false;
        return mounted = true;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(dir.toLocal8Bit().constData(), MNT_DETACH);
    }
};

// In a test function: the disk mounted, or QSKIP (QFAIL under CI=true, which runs as root).
#define VX_REQUIRE_SMALL_DISK(disk, path, kib)                                                                         \
    do {                                                                                                               \
        if (!(disk).mount((path), (kib))) {                                                                            \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                                                   \
                QFAIL(qPrintable((disk).why));                                                                         \
            QSKIP(qPrintable((disk).why));                                                                             \
        }                                                                                                              \
    } while (false)

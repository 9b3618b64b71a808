#include "core/platform/SafeFiles.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vx {

namespace {

// Opens without blocking, then keeps the descriptor only for a regular file.
int openRegular(const QString &path, int flags, FileProblem *problem)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        *problem = errno == ENOENT ? FileProblem::Missing
                   : errno == ENXIO ? FileProblem::NotRegular // a FIFO nobody reads, opened for writing
                                    : FileProblem::Unreadable;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *problem = FileProblem::NotRegular;
        return -1;
    }
    // Regular files never block; plain blocking writes are simpler to get whole.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *problem = FileProblem::None;
    return fd;
}

// The path with every link resolved, also when its last parts do not exist yet.
QString resolved(const QString &path)
{
    QFileInfo info(QDir::cleanPath(QDir(path).absolutePath()));
    QStringList missing;
    while (!info.exists() && !info.isSymLink()) {
        missing.prepend(info.fileName());
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            break;
        info = QFileInfo(parent);
    }
    QString base = info.canonicalFilePath();
    if (base.isEmpty()) // a dangling link: where it points
        base = info.isSymLink() ? QFileInfo(info.symLinkTarget()).absoluteFilePath() : info.absoluteFilePath();
    for (const QString &part : missing)
        base += QLatin1Char('/') + part;
    return QDir::cleanPath(base);
}

} // namespace

FileRead readRegularFile(const QString &path, qint64 maxBytes)
{
    FileRead result;
    const int fd = openRegular(path, O_RDONLY, &result.problem);
    if (fd < 0)
        return result;
    QByteArray bytes(qsizetype(maxBytes + 1), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.problem = FileProblem::Unreadable;
            ::close(fd);
            return result;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    if (got > maxBytes) {
        result.problem = FileProblem::TooLarge;
        return result;
    }
    bytes.truncate(got);
    result.bytes = bytes;
    return result;
}

bool openRegularForReading(QFile &file, const QString &path)
{
    FileProblem problem;
    const int fd = openRegular(path, O_RDONLY, &problem);
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}

AppendResult appendToRegularFile(const QString &path, const QByteArray &bytes, bool refuseLink)
{
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK: a FIFO must not hold the open; a regular file ignores it.
    const int fd = ::open(native.constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (refuseLink ? O_NOFOLLOW : 0),
                          0644);
    if (fd < 0)
        return errno == ELOOP ? AppendResult::IsLink : AppendResult::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return AppendResult::Failed;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const bool whole = done == bytes.size();
    if (!whole && done > 0 && ::ftruncate(fd, st.st_size) != 0) {
        // Nothing more can be done: the record is reported lost either way.
    }
    const bool closed = ::close(fd) == 0;
    return whole && closed ? AppendResult::Written : AppendResult::Failed;
}

bool writeStaysInside(const QString &path, const QString &programDir)
{
    const QString literal = QDir::cleanPath(QDir(path).absolutePath());
    const QString target = resolved(path);
    if (target == literal)
        return true; // no link on the way
    const QString home = resolved(programDir);
    return target.startsWith(home + QLatin1Char('/'));
}

} // namespace vx

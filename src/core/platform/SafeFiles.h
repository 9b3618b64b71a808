#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace vx {

// Files the program reads or writes are regular files, opened without ever
// blocking: a FIFO would hold open() until someone opens its other end, and
// a device like /dev/zero never ends. Reads are bounded by a count, never by
// QFile::size() (0 for devices).

enum class FileProblem {
    None,
    Missing,
    NotRegular,   // a FIFO, a device, a directory, a socket
    TooLarge,     // more than the caller's bound
    Unreadable,   // permissions, I/O error
};

struct FileRead {
    QByteArray bytes;
    FileProblem problem = FileProblem::None;
};

// The whole of a regular file of at most maxBytes.
FileRead readRegularFile(const QString &path, qint64 maxBytes);

// Opens a regular file for reading into file; false for anything else.
bool openRegularForReading(QFile &file, const QString &path);

// Appends bytes whole to a regular file (created when missing), or not at
// all: a short write (a full disk) is cut back. With refuseLink, a path whose
// last part is a symbolic link is not followed (the result says so). Four
// system calls: this runs twice for every reply.
enum class AppendResult { Written, Failed, IsLink };
AppendResult appendToRegularFile(const QString &path, const QByteArray &bytes, bool refuseLink);

// Whether writing path stays where it says: either no symbolic link is
// involved, or the place it leads to lies inside the program directory (which
// may itself be reached through a link).
bool writeStaysInside(const QString &path, const QString &programDir);

} // namespace vx

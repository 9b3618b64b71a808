#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace vx {

// comm.set: one line "CommNum,CommRate" CR LF, e.g. "4,9600\r\n".
struct CommSettings {
    qint16 CommNum = 0;
    qint16 CommRate = 0;
};

enum class CommSetStatus { Ok, Missing, Damaged };

struct CommSetRead {
    CommSetStatus status = CommSetStatus::Missing;
    CommSettings settings;
};

// The file's text for the two numbers.
QByteArray formatCommSet(const CommSettings &settings);

// Reads two decimal numbers separated by a comma (blanks around them and a
// line end after them allowed). Anything else, or a number outside the
// 16-bit range, is Damaged.
CommSetRead parseCommSet(const QByteArray &content);

// Reads the file; a missing file is Missing, an unreadable or huge one Damaged.
CommSetRead readCommSet(const QString &path);

// Writes the file whole; false when it could not be written.
bool writeCommSet(const QString &path, const CommSettings &settings);

} // namespace vx

#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>

namespace vx {

// Date and time texts of the records and labels, in the regional shape the
// devices' operators know (short date, long time): 2026/12/7 and 05:07:55.
QString shortDate(const QDate &date);
QString longTime(const QTime &time);
QString generalDateTime(const QDateTime &when);

// One record of the raw receive log dataGet.txt: a quote, the date and time,
// three spaces, RecHex (which starts with a space), three spaces, a quote, CR LF.
QString dataGetRecord(const QDateTime &when, const QString &recHex);

// Appends text records to files, opening and closing the file for each one
// so nothing is held open between replies. A missing directory is created.
// Only regular files are written (a FIFO or device counts as unwritable), and
// never through a link that leads out of the program directory. A record
// that still cannot be written is counted and reported through onLoss once
// per directory, never per record.
class RecordFiles {
public:
    using LossHandler = std::function<void(const QString &path)>;
    // A directory whose records were lost takes them again; lost: how many in between.
    using RecoveryHandler = std::function<void(const QString &dir, qint64 lost)>;

    void setLossHandler(LossHandler handler) { m_onLoss = std::move(handler); }
    // With a recovery handler, a directory that recovered is reported again if
    // it fails again; without one, a loss is said once per run.
    void setRecoveryHandler(RecoveryHandler handler) { m_onRecovery = std::move(handler); }
    // Where links may lead; empty: anywhere.
    void setProgramDir(const QString &dir) { m_programDir = dir; }
    // A file kept under maxBytes: when a record would take it past, it becomes
    // path.1 (replacing the older one) and a new file starts. 0: no limit.
    void setSizeLimit(const QString &path, qint64 maxBytes);

    // Returns false when the record could not be written whole.
    bool append(const QString &path, const QString &record);

    int lostRecords() const { return m_lost; }

private:
    LossHandler m_onLoss;
    RecoveryHandler m_onRecovery;
    bool write(const QString &path, const QByteArray &bytes);
    void rotateIfFull(const QString &path, qint64 adding);

    bool directoryStaysInside(const QString &path);

    struct DirVerdict {
        bool inside = false;
        QElapsedTimer checked;
    };
    struct Limit {
        qint64 maxBytes = 0;
        qint64 size = -1; // -1: not yet looked at
    };
    QHash<QString, qint64> m_reported; // directory -> records lost since it was reported
    QString m_programDir;
    QHash<QString, DirVerdict> m_dirs;
    QHash<QString, Limit> m_limits;
    int m_lost = 0;
};

} // namespace vx

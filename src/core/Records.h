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

    void setLossHandler(LossHandler handler) { m_onLoss = std::move(handler); }
    // Where links may lead; empty: anywhere.
    void setProgramDir(const QString &dir) { m_programDir = dir; }

    // Returns false when the record could not be written whole.
    bool append(const QString &path, const QString &record);

    int lostRecords() const { return m_lost; }

private:
    LossHandler m_onLoss;
    bool write(const QString &path, const QByteArray &bytes);

    bool directoryStaysInside(const QString &path);

    struct DirVerdict {
        bool inside = false;
        QElapsedTimer checked;
    };
    QSet<QString> m_reported;
    QString m_programDir;
    QHash<QString, DirVerdict> m_dirs;
    int m_lost = 0;
};

} // namespace vx

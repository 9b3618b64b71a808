#pragma once

#include "core/store/ReadingSet.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vx {

class ReadingStore;

// One record of a device's data log ("2026/12/7 09:05:03 :  25.34 655.35 "
// in quotes), read back: the second it names in the machine's local time,
// and the registers its value texts stand for. Nothing, and *why, for a line
// that is not exactly such a record: nothing is guessed.
struct DataLogRecord {
    qint64 secondMs = 0;     // local date and time as UTC milliseconds
    QList<quint16> raw;
};
std::optional<DataLogRecord> parseDataLogRecord(const QByteArray &line, QString *why);

// The register a value text stands for ("25.34" -> 2534, "-5.36" -> 65000,
// "655.35" -> 65535); nothing for a text no register is written as.
std::optional<quint16> registerOfValueText(const QByteArray &text);

struct ImportReport {
    int files = 0;
    qint64 records = 0;          // lines read as records
    qint64 readingsAdded = 0;    // new in the store
    qint64 unreadable = 0;       // lines not read
    QStringList problems;        // "FILE:LINE: why", the first 100
    struct Skipped {
        QString name;
        QString why;             // "not a device's log (<address>.txt)", "not a regular file", ...
    };
    QList<Skipped> skipped;      // every entry of the directory that was not read
    bool failed = false;         // the store refused a write (problems says why)
};

// Backfills <address>.txt logs from dir into the store. Records of one
// device within one second (the log keeps whole seconds) get 1 ms apart in
// file order, so none is lost and a second import adds nothing.
// progress(bytes read, bytes in all) is asked now and then.
ImportReport importDataLogs(ReadingStore &store, const QString &dir, bool queueForCentral,
                            const std::function<void(qint64, qint64)> &progress = {});

} // namespace vx

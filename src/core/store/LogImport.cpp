#include "core/store/LogImport.h"

#include "core/frames/Measurement.h"
#include "core/records/ShownValue.h"
#include "core/platform/SafeFiles.h"
#include "core/store/ReadingStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <dirent.h>

namespace vx {

namespace {

// A record of 125 values is under 1 KiB; anything past this is not one.
constexpr qint64 kLongestLine = 64 * 1024;

// Digits of text[from, to) as a number; -1 when anything else is there.
int digits(const QByteArray &text, int from, int to)
{
    if (from >= to || to - from > 9)
        return -1;
    int v = 0;
    for (int i = from; i < to; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

// Where the last '"' that opens a record ("2026/...) stands in a line; -1 if none.
int lastRecordStart(const QByteArray &line)
{
    for (qsizetype i = line.lastIndexOf('"'); i >= 0; i = i > 0 ? line.lastIndexOf('"', i - 1) : -1) {
        if (i + 5 < line.size() && digits(line, int(i) + 1, int(i) + 5) >= 0 && line[i + 5] == '/')
            return int(i);
    }
    return -1;
}

} // namespace

std::optional<quint16> registerOfValueText(const QByteArray &text)
{
    const bool negative = text.startsWith('-');
    const int begin = negative ? 1 : 0;
    const int dot = int(text.indexOf('.'));
    if (dot <= begin || dot != text.size() - 3)
        return std::nullopt;
    const int whole = digits(text, begin, dot);
    const int fraction = digits(text, dot + 1, int(text.size()));
    if (whole < 0 || fraction < 0 || (dot - begin > 1 && text[begin] == '0'))
        return std::nullopt;
    const qint64 hundredths = (negative ? -1 : 1) * (qint64(whole) * 100 + fraction);
    if (hundredths == kNoReading)
        return quint16(kNoReading);
    if (hundredths >= 0 && hundredths <= kPositiveLimit && !(negative && hundredths == 0))
        return quint16(hundredths);
    if (hundredths < 0 && hundredths >= qint64(kPositiveLimit) + 1 - 65536)
        return quint16(hundredths + 65536);
    return std::nullopt;
}

std::optional<DataLogRecord> parseDataLogRecord(const QByteArray &line, QString *why)
{
    QByteArray text = line;
    if (text.endsWith('\r'))
        text.chop(1);
    if (text.size() < 2 || !text.startsWith('"') || !text.endsWith('"')) {
        *why = QStringLiteral("not a quoted record");
        return std::nullopt;
    }
    text = text.mid(1, text.size() - 2);
    const int sep = int(text.indexOf(" :  "));
    if (sep < 0) {
        *why = QStringLiteral("no \" :  \" after the time");
        return std::nullopt;
    }
    static const QRegularExpression stamp(QStringLiteral("^(\\d{4})/(\\d{1,2})/(\\d{1,2}) (\\d{1,2}):(\\d\\d):(\\d\\d)$"));
    const auto m = stamp.match(QString::fromLatin1(text.left(sep)));
    if (!m.hasMatch()) {
        *why = QStringLiteral("%1 is not a date and time").arg(shownValue(text.left(sep)));
        return std::nullopt;
    }
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    const QDateTime when(date, time, Qt::LocalTime);
    if (!date.isValid() || !time.isValid() || !when.isValid()) {
        *why = QStringLiteral("%1 is no such date and time").arg(shownValue(text.left(sep)));
        return std::nullopt;
    }
    const QByteArray values = text.mid(sep + 4);
    if (values.isEmpty() || !values.endsWith(' ')) {
        *why = QStringLiteral("no values");
        return std::nullopt;
    }
    DataLogRecord record;
    record.secondMs = when.toMSecsSinceEpoch();
    for (const QByteArray &value : values.chopped(1).split(' ')) {
        const auto raw = registerOfValueText(value);
        if (!raw) {
            *why = QStringLiteral("%1 is not a value the log writes").arg(shownValue(value));
            return std::nullopt;
        }
        record.raw.append(*raw);
    }
    return record;
}

ImportReport importDataLogs(ReadingStore &store, const QString &dir, bool queueForCentral,
                            const std::function<void(qint64, qint64)> &progress)
{
    ImportReport report;
    static const QRegularExpression logName(QStringLiteral("^([1-9]\\d{0,2})\\.txt$"));
    const QDir directory(dir);
    QList<QPair<QString, int>> logs;
    qint64 total = 0;
    // Everything in the directory is either read or named as skipped, with why:
    // read with readdir(), since QDir leaves out names that are not UTF-8.
    QStringList names;
    if (DIR *d = ::opendir(QFile::encodeName(dir).constData())) {
        while (const dirent *e = ::readdir(d)) {
            const QByteArray raw(e->d_name);
            if (raw == "." || raw == "..")
                continue;
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString name = utf8(raw);
            if (utf8.hasError())
                report.skipped.append({QString::fromLatin1(raw.toPercentEncoding("/ .()-_")), QStringLiteral("its name is not UTF-8")});
            else
                names << name;
        }
        ::closedir(d);
    }
    names.sort();
    for (const QString &name : names) {
        const QFileInfo info(directory.filePath(name));
        const auto m = logName.match(name);
        const int address = m.hasMatch() ? m.captured(1).toInt() : 0;
        if (address < 1 || address > 247)
            report.skipped.append({name, QStringLiteral("not a device's log (<address>.txt)")});
        else if (info.isDir())
            report.skipped.append({name, QStringLiteral("a directory")});
        else {
            logs.append({info.filePath(), address});
            total += info.size();
        }
    }
    auto problem = [&](const QString &text) {
        if (report.problems.size() < 100)
            report.problems << text;
    };
    qint64 done = 0;
    for (const auto &log : logs) {
        // Named, not bound: lambdas below use them, which C++17 allows only for variables.
        const QString path = log.first;
        const int address = log.second;
        QFile file;
        // A FIFO, a device or a link to one is never waited on nor read without end.
        if (!openRegularForReading(file, path)) {
            report.skipped.append({QFileInfo(path).fileName(), QStringLiteral("not a regular file")});
            continue;
        }
        ++report.files;
        QList<ReadingSet> batch;
        qint64 lastSecond = -1;
        int sameSecond = 0;
        qint64 lineNumber = 0;
        auto write = [&] {
            if (batch.isEmpty())
                return true;
            if (!store.add(batch, {}, queueForCentral)) {
                report.failed = true;
                problem(QStringLiteral("%1: the store refused the records: %2").arg(path, store.lastError()));
                return false;
            }
            report.readingsAdded += store.lastAdded();
            batch.clear();
            return true;
        };
        while (!file.atEnd()) {
            QByteArray line = file.readLine(kLongestLine + 2);
            ++lineNumber;
            done += line.size();
            if (line.size() > kLongestLine && !line.endsWith('\n')) {
                // No record is this long: the rest of the line is passed over unread, a piece at a time.
                qint64 skipped = line.size();
                while (!file.atEnd()) {
                    const QByteArray piece = file.readLine(kLongestLine + 2);
                    skipped += piece.size();
                    if (piece.endsWith('\n'))
                        break;
                }
                done += skipped - line.size();
                ++report.unreadable;
                problem(QStringLiteral("%1:%2: a line of %3 bytes, longer than any record").arg(path).arg(lineNumber).arg(skipped));
                continue;
            }
            if (line.endsWith('\n'))
                line.chop(1);
            if (line.isEmpty() || line == "\r")
                continue;
            QString why;
            auto record = parseDataLogRecord(line, &why);
            if (!record) {
                ++report.unreadable;
                problem(QStringLiteral("%1:%2: %3").arg(path).arg(lineNumber).arg(why));
                // A record cut short by a power failure has the next one glued
                // to it: that one is whole, from its opening quote on.
                const int glued = lastRecordStart(line);
                if (glued <= 0 || !(record = parseDataLogRecord(line.mid(glued), &why)))
                    continue;
            }
            ++report.records;
            sameSecond = record->secondMs == lastSecond ? sameSecond + 1 : 0;
            lastSecond = record->secondMs;
            if (sameSecond >= 1000) {
                ++report.unreadable;
                problem(QStringLiteral("%1:%2: more than 1000 records in one second").arg(path).arg(lineNumber));
                continue;
            }
            batch.append({record->secondMs + sameSecond, address, record->raw});
            if (batch.size() >= 1000) {
                if (!write())
                    return report;
                if (progress)
                    progress(done, total);
            }
        }
        if (!write())
            return report;
        if (progress)
            progress(done, total);
    }
    return report;
}

} // namespace vx

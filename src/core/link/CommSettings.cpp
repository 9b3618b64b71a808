#include "core/link/CommSettings.h"

#include "core/platform/SafeFiles.h"

#include <QSaveFile>

namespace vx {

namespace {

constexpr qint64 kMaxCommSetSize = 4096; // one short line; anything larger is not ours

bool parseInt16(QByteArray text, qint16 &out)
{
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 12)
        return false;
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < -32768 || v > 32767)
        return false;
    out = qint16(v);
    return true;
}

} // namespace

QByteArray formatCommSet(const CommSettings &settings)
{
    return QByteArray::number(settings.CommNum) + ',' + QByteArray::number(settings.CommRate) + "\r\n";
}

CommSetRead parseCommSet(const QByteArray &content)
{
    CommSetRead result;
    result.status = CommSetStatus::Damaged;
    QByteArray line = content;
    const qsizetype eol = line.indexOf('\n');
    if (eol >= 0) {
        // Only blank lines may follow the first one.
        if (!line.mid(eol + 1).trimmed().isEmpty())
            return result;
        line.truncate(eol);
    }
    const QList<QByteArray> fields = line.split(',');
    if (fields.size() != 2)
        return result;
    CommSettings s;
    if (!parseInt16(fields[0], s.CommNum) || !parseInt16(fields[1], s.CommRate))
        return result;
    result.status = CommSetStatus::Ok;
    result.settings = s;
    return result;
}

CommSetRead readCommSet(const QString &path)
{
    const FileRead read = readRegularFile(path, kMaxCommSetSize);
    if (read.problem == FileProblem::Missing)
        return {};
    if (read.problem != FileProblem::None) // too large, a FIFO or device, unreadable
        return {CommSetStatus::Damaged, {}};
    return parseCommSet(read.bytes);
}

bool writeCommSet(const QString &path, const CommSettings &settings)
{
    // Written through a temporary file, so a full disk never leaves a half line.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(formatCommSet(settings));
    return file.commit();
}

} // namespace vx

// The serial-number list file reader on any bytes.
#include "FuzzInput.h"
#include "core/sensors/ListFile.h"

#include <QBuffer>

namespace {
// An entry that a list file can carry unchanged: no quote of its own, short enough once encoded.
bool travels(const QString &entry)
{
    return !entry.contains(QLatin1Char('"')) && entry.toUtf8().size() <= vx::ListFileReader::kMaxItemLength;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QBuffer buffer;
    buffer.setData(reinterpret_cast<const char *>(data), qsizetype(size));
    buffer.open(QIODevice::ReadOnly);
    std::array<QString, 129> SnList;
    qint16 ChennelNum = 0;
    const vx::ListImport imported = vx::importListFile(buffer, SnList, ChennelNum);
    // Nothing longer than an item gets in, so the pane stays small.
    for (const QString &entry : SnList)
        FUZZ_ASSERT(entry.size() <= vx::ListFileReader::kMaxItemLength);
    FUZZ_ASSERT(imported.sn.size() <= 64 + 128 * (vx::ListFileReader::kMaxItemLength + 16));
    if (imported.proof)
        FUZZ_ASSERT(!imported.failed);

    // What was imported writes back to a file that reads the same entries.
    if (imported.failed || ChennelNum <= 0)
        return 0;
    QStringList entries;
    for (int k = 1; k <= ChennelNum; ++k) {
        if (!travels(SnList[std::size_t(k)]))
            return 0;
        entries << SnList[std::size_t(k)];
    }
    QBuffer again;
    again.setData(vx::formatListFile(entries));
    again.open(QIODevice::ReadOnly);
    std::array<QString, 129> back;
    qint16 count = 0;
    const vx::ListImport reread = vx::importListFile(again, back, count);
    FUZZ_ASSERT(!reread.failed);
    FUZZ_ASSERT(count == ChennelNum);
    for (int k = 1; k <= ChennelNum; ++k)
        FUZZ_ASSERT(back[std::size_t(k)] == SnList[std::size_t(k)]);
    return 0;
}

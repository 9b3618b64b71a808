#include "core/sensors/ListFile.h"

#include <QCoreApplication>

#include "core/records/NumberText.h"

#include <QIODevice>

namespace vx {

namespace {
constexpr qint64 kChunk = 64 * 1024;
const QString kCrLf = QStringLiteral("\r\n");

bool isLineEnd(int c)
{
    return c == '\r' || c == '\n';
}
} // namespace

QByteArray formatListFile(const QStringList &entries)
{
    QByteArray out = QByteArray::number(entries.size()) + "\r\n";
    for (const QString &entry : entries)
        out += '"' + entry.toUtf8() + "\"\r\n";
    return out;
}

int ListFileReader::peek()
{
    if (m_pos >= m_buffer.size()) {
        m_buffer = m_in.read(kChunk);
        m_pos = 0;
        if (m_buffer.isEmpty())
            return -1;
    }
    return quint8(m_buffer[m_pos]);
}

int ListFileReader::get()
{
    const int c = peek();
    if (c >= 0)
        ++m_pos;
    return c;
}

// Consumes the rest of an item up to and including its delimiter; CR LF counts as one.
void ListFileReader::skipToDelimiter()
{
    for (int c = get(); c >= 0; c = get()) {
        if (c == ',')
            return;
        if (isLineEnd(c)) {
            if (c == '\r' && peek() == '\n')
                get();
            return;
        }
    }
}

ListFileReader::Status ListFileReader::next(QString &item)
{
    int c = peek();
    while (c == ' ' || c == '\t') {
        get();
        c = peek();
    }
    if (c < 0)
        return Status::End;

    QByteArray bytes;
    if (c == '"') {
        get();
        for (c = get(); c >= 0 && c != '"'; c = get()) {
            if (bytes.size() >= kMaxItemLength)
                return Status::TooLong;
            bytes.append(char(c));
        }
        skipToDelimiter();
    } else {
        for (c = peek(); c >= 0 && c != ',' && !isLineEnd(c); c = peek()) {
            if (bytes.size() >= kMaxItemLength)
                return Status::TooLong;
            bytes.append(char(get()));
        }
        skipToDelimiter();
        while (bytes.endsWith(' ') || bytes.endsWith('\t'))
            bytes.chop(1);
    }
    item = QString::fromUtf8(bytes);
    return Status::Item;
}

QStringList entryFields(const QString &entry)
{
    return entry.split(QLatin1Char(' '));
}

bool isValidEntry(const QStringList &fields)
{
    if (fields.size() < 7)
        return false;
    const QString zero = QStringLiteral("00");
    return fields[0] == QLatin1String("28") && fields[5] == zero && fields[6] == zero
        && !(fields[1] == zero && fields[2] == zero);
}

ListImport importListFile(QIODevice &in, std::array<QString, 129> &SnList, qint16 &ChennelNum)
{
    ListImport result;
    result.showId = QStringLiteral(" ") + kCrLf;
    ListFileReader reader(in);
    QString item;
    if (reader.next(item) != ListFileReader::Status::Item) {
        result.failed = true;
        return result;
    }
    const auto count = num::numericValue(item);
    // A count below zero is as wrong as one that is no number.
    const auto whole = count ? num::inRange(*count, 0, 32767) : std::nullopt;
    if (!whole) {
        result.failed = true;
        return result;
    }
    ChennelNum = qint16(*whole);
    result.sn = QCoreApplication::translate("vx", "本次共导入%1个序列号").arg(ChennelNum) + kCrLf;

    for (int k = 1; k <= ChennelNum; ++k) {
        if (k >= int(SnList.size()) || reader.next(item) != ListFileReader::Status::Item) {
            result.failed = true;
            return result;
        }
        SnList[std::size_t(k)] = item;
        result.showId += num::twoDigits(k) + kCrLf;
        const QStringList fields = entryFields(item);
        if (fields.size() < 7) {
            result.failed = true;
            return result;
        }
        result.sn += QLatin1Char('"') + item
            + (isValidEntry(fields) ? QStringLiteral("\"") : QCoreApplication::translate("vx", "\" [无效]")) + kCrLf;
    }

    const QStringList first = entryFields(SnList[1]);
    if (first.size() < 8) {
        result.failed = true;
        return result;
    }
    std::array<QString, 8> proof;
    for (std::size_t i = 0; i < 8; ++i)
        proof[i] = first[int(i)].trimmed();
    result.proof = proof;
    return result;
}

} // namespace vx

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <optional>

class QIODevice;

namespace vx {

// Serial-number list file: line 1 the count, then one quoted entry per line
// ("28 FF 4A 3B 05 00 00 9C"), each line ended by CR LF.
QByteArray formatListFile(const QStringList &entries);

// Reads the items of a list file one at a time: items are separated by line
// ends or commas; blanks before an item are skipped; an item that starts with
// a double quote runs to the next double quote (commas and line ends
// included) and is taken without the quotes; any other item runs to the next
// comma or line end. Reads only as far as the items asked for.
class ListFileReader {
public:
    enum class Status { Item, End, TooLong };
    static constexpr int kMaxItemLength = 1024; // entries are 23 characters

    explicit ListFileReader(QIODevice &in) : m_in(in) {}
    Status next(QString &item);

private:
    int get();
    int peek();
    void skipToDelimiter();

    QIODevice &m_in;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
};

// The fields of an entry: split at every single space (two spaces in a row
// give an empty field).
QStringList entryFields(const QString &entry);

// Valid: field 0 is "28", fields 5 and 6 are "00", and fields 1 and 2 are not
// both "00". Needs at least seven fields.
bool isValidEntry(const QStringList &fields);

// The outcome of importing a list file into SnList and ChennelNum.
struct ListImport {
    QString sn;            // text of txtSn (CR LF line ends)
    QString showId;        // text of txtShowID
    bool failed = false;   // "输入的文件数据格式有误！请检查"
    std::optional<std::array<QString, 8>> proof; // entry 1's fields for the proof-reading boxes
};

// Imports: the count first (a whole number in the 16-bit range), then that
// many entries into SnList[1..]. Stops at the first failure (missing or
// too long entry, an entry of fewer than seven fields, a 129th entry),
// keeping what was read before it.
ListImport importListFile(QIODevice &in, std::array<QString, 129> &SnList, qint16 &ChennelNum);

} // namespace vx

#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// Takes typed values off the front of a fuzzer's input; zeros once it runs out.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    uint8_t u8() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t u16() { return uint16_t(u8() << 8 | u8()); }
    // A short text: a length byte, then that many bytes (Latin-1).
    QString text(int maxLength = 12)
    {
        const int n = u8() % (maxLength + 1);
        QByteArray b;
        for (int i = 0; i < n; ++i)
            b.append(char(u8()));
        return QString::fromLatin1(b);
    }
    QByteArray rest()
    {
        const QByteArray b(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(m_size - m_pos));
        m_pos = m_size;
        return b;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// A property the code must keep; a violation is reported as a crash.
#define FUZZ_ASSERT(cond)                                                                          \
    do {                                                                                           \
        if (!(cond))                                                                               \
            __builtin_trap();                                                                      \
    } while (false)

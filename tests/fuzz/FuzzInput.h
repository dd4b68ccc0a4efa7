#pragma once

// Reading a fuzz input as a script: single bytes for choices, and texts cut
// out of the input. Running out of input is never an error: every read then
// answers its empty value, so each input is a complete script.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size) {}

    [[nodiscard]] bool atEnd() const { return m_pos >= m_size; }
    [[nodiscard]] std::size_t remaining() const { return m_size - m_pos; }

    std::uint8_t byte() { return atEnd() ? 0 : m_data[m_pos++]; }

    // The bytes up to (not including) the separator, or to the end; the
    // separator itself is consumed.
    QByteArray until(char separator) {
        const std::size_t start = m_pos;
        while (m_pos < m_size && m_data[m_pos] != std::uint8_t(separator))
            ++m_pos;
        QByteArray out(reinterpret_cast<const char*>(m_data + start), qsizetype(m_pos - start));
        if (m_pos < m_size)
            ++m_pos;
        return out;
    }

    // A byte giving the length, then that many bytes (fewer at the end).
    QByteArray counted() {
        std::size_t n = byte();
        if (n > remaining())
            n = remaining();
        QByteArray out(reinterpret_cast<const char*>(m_data + m_pos), qsizetype(n));
        m_pos += n;
        return out;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// Splits the whole input at every separator byte; the last piece may be empty.
inline std::vector<QByteArray> splitInput(const std::uint8_t* data, std::size_t size, char separator) {
    std::vector<QByteArray> parts;
    FuzzInput in(data, size);
    while (!in.atEnd())
        parts.push_back(in.until(separator));
    if (size > 0 && data[size - 1] == std::uint8_t(separator))
        parts.emplace_back();
    return parts;
}

// Stops the run at a broken rule: libFuzzer keeps the input that did it.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "broken rule at %s:%d: %s\n", __FILE__, __LINE__, #condition);              \
            __builtin_trap();                                                                                \
        }                                                                                                    \
    } while (false)

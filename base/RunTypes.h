#pragma once

#include "base/RunTimeError.h"

#include <QString>
#include <QStringList>
#include <cstdint>

// The numeric kinds of the window's run state. Their widths are part of the
// behaviour: a step counter that runs past 32767 is an overflow error, and
// the state numbers show up in error lines.
using Long = std::int32_t;

// 16-bit signed counter; arithmetic or assignment outside its range raises
// the overflow error instead of wrapping.
class Integer {
public:
    constexpr Integer() = default;
    Integer(long long value) { *this = value; } // NOLINT: used like a plain number
    Integer& operator=(long long value) {
        if (value < -32768 || value > 32767)
            throw RunTimeError(RunTimeError::Overflow);
        m_value = static_cast<std::int16_t>(value);
        return *this;
    }
    [[nodiscard]] Integer operator+(long long rhs) const {
        return Integer(static_cast<long long>(m_value) + rhs);
    }
    [[nodiscard]] Integer operator-(long long rhs) const {
        return Integer(static_cast<long long>(m_value) - rhs);
    }
    Integer& operator+=(long long rhs) { return *this = static_cast<long long>(m_value) + rhs; }
    operator std::int16_t() const { return m_value; } // NOLINT

private:
    std::int16_t m_value = 0;
};

// A zero-based text array that may be unallocated. Reading outside its bounds,
// or from an unallocated array, is the "Subscript out of range" error.
class StringArray {
public:
    [[nodiscard]] bool allocated() const { return m_allocated; }
    [[nodiscard]] Long upperBound() const;
    [[nodiscard]] const QString& at(Long index) const;
    QString& operator[](Long index);
    // Resizes to indexes 0..upper; without preserve every element becomes empty.
    void redim(Long upper, bool preserve);

private:
    [[nodiscard]] bool inBounds(Long index) const {
        return m_allocated && index >= 0 && index < m_items.size();
    }
    bool m_allocated = false;
    QStringList m_items;
};

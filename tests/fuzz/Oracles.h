#pragma once

// Independent readings of the address texts, written from the rules the
// window enforces and sharing no code with address/, so that a fuzz target
// can tell a wrong answer from a right one.

#include <QString>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

namespace Oracle {

[[nodiscard]] inline QString trimmed(const QString& text) {
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && text.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && text.at(e - 1) == QLatin1Char(' '))
        --e;
    return text.mid(b, e - b);
}

struct Number {
    bool plain = false;      // the text is plain decimal notation
    bool outOfRange = false; // so many digits that a double cannot hold the value
    double value = 0;
    // Whether the rules may answer either way for this text.
    [[nodiscard]] bool open() const { return outOfRange; }
};

// Spaces at either end, an optional sign, then digits with an optional
// fraction ("5.", ".5" and "5.5" count; "." does not). Nothing else: no other
// blank, no line end, no exponent, no digit outside 0-9.
[[nodiscard]] inline Number readDecimal(const QString& text) {
    const QString t = trimmed(text);
    std::string s;
    for (const QChar c : t) {
        if (c.unicode() > 127)
            return {};
        s += char(c.unicode());
    }
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            ++i;
            ++digits;
        }
    }
    if (i != s.size() || digits == 0)
        return {};
    errno = 0;
    Number n;
    n.plain = true;
    n.value = std::strtod(s.c_str(), nullptr);
    n.outOfRange = errno == ERANGE;
    return n;
}

[[nodiscard]] inline bool hexDigit(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f');
}

} // namespace Oracle

// The byte strings the tool builds: the 20-byte address-assignment datagram
// from arbitrary field texts, and the two fixed sign messages.
//
// Input: six texts in UTF-8 separated by '|': the fifth and sixth MAC octets,
// then the four IP octets. Missing texts are empty.

#include "FuzzInput.h"
#include "Oracles.h"
#include "base/RunTimeError.h"
#include "net/AssignmentDatagram.h"
#include "signtest/SignMessages.h"

#include <array>
#include <cmath>

namespace {

// What a MAC octet text gives: its byte, or the error the datagram must raise.
struct Expected {
    int byte = -1;
    int error = 0;
    bool either = false; // a reading the rules leave open
};

Expected hexOctet(const QString& text) {
    const QString t = Oracle::trimmed(text);
    if (t.isEmpty())
        return {-1, RunTimeError::TypeMismatch};
    unsigned long v = 0;
    for (const QChar c : t) {
        const char16_t u = c.unicode();
        int d = -1;
        if (u >= u'0' && u <= u'9')
            d = u - u'0';
        else if (u >= u'a' && u <= u'f')
            d = u - u'a' + 10;
        else if (u >= u'A' && u <= u'F')
            d = u - u'A' + 10;
        if (d < 0)
            return {-1, RunTimeError::TypeMismatch};
        v = std::min<unsigned long>(v * 16 + d, 0x10000);
    }
    if (v > 255)
        return {-1, RunTimeError::Overflow};
    return {int(v), 0};
}

Expected decimalOctet(const QString& text) {
    const Oracle::Number n = Oracle::readDecimal(text);
    if (n.open())
        return {-1, 0, true};
    if (!n.plain || n.value != std::floor(n.value))
        return {-1, RunTimeError::TypeMismatch};
    if (n.value < 0 || n.value > 255)
        return {-1, RunTimeError::Overflow};
    return {int(n.value), 0};
}

void checkSignMessage(const QString& m, qsizetype size) {
    FUZZ_CHECK(m.size() == size);
    for (const QChar c : m)
        FUZZ_CHECK(c.unicode() < 256);
    FUZZ_CHECK(m.left(5) == QString(5, QChar(0)));
    FUZZ_CHECK(m.at(5) == QChar(0x01) && m.mid(6, 3) == QLatin1String("Z00") && m.at(9) == QChar(0x02));
    FUZZ_CHECK(m.back() == QChar(0x04));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::array<QString, 6> texts;
    const auto parts = splitInput(data, size, '|');
    for (std::size_t i = 0; i < parts.size() && i < texts.size(); ++i)
        texts[i] = QString::fromUtf8(parts[i]);

    // The first failing octet, in the order the datagram is built, decides.
    std::array<Expected, 6> expected{hexOctet(texts[0]),     hexOctet(texts[1]),     decimalOctet(texts[2]),
                                     decimalOctet(texts[3]), decimalOctet(texts[4]), decimalOctet(texts[5])};
    int error = 0;
    bool either = false;
    for (const Expected& e : expected) {
        if (e.either) {
            either = true;
            break;
        }
        if (e.error) {
            error = e.error;
            break;
        }
    }

    QString datagram;
    int thrown = 0;
    try {
        datagram = AssignmentDatagram::build(texts[0], texts[1], {texts[2], texts[3], texts[4], texts[5]});
    } catch (const RunTimeError& e) {
        thrown = e.number();
        FUZZ_CHECK(thrown == RunTimeError::TypeMismatch || thrown == RunTimeError::Overflow);
    }
    if (!either)
        FUZZ_CHECK(thrown == error);
    if (!thrown) {
        FUZZ_CHECK(datagram.size() == 20);
        for (const QChar c : datagram)
            FUZZ_CHECK(c.unicode() < 256);
        QString header(3, QChar(0));
        header += QChar(0xFC);
        header += QStringLiteral("NE-TRIKA");
        header += QString(2, QChar(0));
        FUZZ_CHECK(datagram.left(14) == header);
        if (!either) {
            for (int i = 0; i < 6; ++i)
                FUZZ_CHECK(datagram.at(14 + i).unicode() == expected[std::size_t(i)].byte);
        }
    }

    checkSignMessage(SignMessages::first(), 24);
    checkSignMessage(SignMessages::second(), 34);
    return 0;
}

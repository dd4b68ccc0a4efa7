// The byte strings the tool builds: the 20-byte address-assignment datagram
// from any checked target's MAC octets and address, and the two fixed sign
// messages.
//
// Input: the fifth and sixth MAC octets, then the four address octets; missing
// bytes are zero.

#include "FuzzInput.h"
#include "Oracles.h"
#include "net/AssignmentDatagram.h"
#include "signtest/SignMessages.h"

#include <array>

namespace {

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
    std::array<std::uint8_t, 6> bytes{};
    for (std::size_t i = 0; i < size && i < bytes.size(); ++i)
        bytes[i] = data[i];
    const quint32 ip = quint32(bytes[2]) << 24 | quint32(bytes[3]) << 16 | quint32(bytes[4]) << 8 | bytes[5];
    const QString datagram = AssignmentDatagram::build(bytes[0], bytes[1], ip);
    FUZZ_CHECK(datagram.size() == 20);
    QString header(3, QChar(0));
    header += QChar(0xFC);
    header += QStringLiteral("NE-TRIKA");
    header += QString(2, QChar(0));
    FUZZ_CHECK(datagram.left(14) == header);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        FUZZ_CHECK(datagram.at(qsizetype(14 + i)).unicode() == bytes[i]);

    checkSignMessage(SignMessages::first(), 24);
    checkSignMessage(SignMessages::second(), 34);
    return 0;
}

#include "SignReceiver.h"

#include "Adaptor.h"

namespace {
constexpr char SOH = 0x01;
constexpr char STX = 0x02;
constexpr char EOT = 0x04;
constexpr char ESC = 0x1b;

std::optional<QByteArray> displayedText(const QByteArray& body) {
    if (body.size() < 2 || body.at(0) != 'A')
        return std::nullopt;
    QByteArray text = body.mid(2); // after the command and the file label
    if (text.startsWith(ESC))
        text = text.mid(3); // ESC, display position, mode
    return text;
}
} // namespace

void SignReceiver::onBytes(const QByteArray& bytes) {
    m_buffer += bytes;
    for (;;) {
        const qsizetype soh = m_buffer.indexOf(SOH);
        if (soh < 0) {
            // Only NUL bytes are worth keeping: they may lead into the next frame.
            qsizetype keep = 0;
            while (keep < m_buffer.size() && m_buffer.at(m_buffer.size() - 1 - keep) == 0)
                ++keep;
            m_buffer = m_buffer.right(keep);
            return;
        }
        const qsizetype stx = m_buffer.indexOf(STX, soh + 1);
        const qsizetype eot = stx < 0 ? -1 : m_buffer.indexOf(EOT, stx + 1);
        if (eot < 0)
            return;
        qsizetype start = soh;
        while (start > 0 && m_buffer.at(start - 1) == 0)
            --start;
        SignRecord message;
        message.frame = m_buffer.mid(start, eot + 1 - start);
        message.address = m_buffer.mid(soh + 1, stx - soh - 1);
        message.body = m_buffer.mid(stx + 1, eot - stx - 1);
        message.text = displayedText(message.body);
        m_buffer.remove(0, eot + 1);
        m_adaptor.signMessage(message);
    }
}

#include "setup/DialogueTranscript.h"

void DialogueTranscript::start(Clock clock) {
    m_clock = std::move(clock);
    m_startMs = m_clock ? m_clock() : 0;
    m_entries.clear();
    m_bytes = 0;
}

void DialogueTranscript::add(Direction direction, int port, const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    const Entry entry{m_clock ? m_clock() - m_startMs : 0, direction, port, bytes};
    m_entries.append(entry);
    m_bytes += bytes.size();
    while (m_bytes > kLimit && m_entries.size() > 1) {
        m_bytes -= m_entries.front().bytes.size();
        m_entries.removeFirst();
    }
    for (const Observer& observer : m_observers)
        observer(entry);
}

QString DialogueTranscript::text() const {
    QString all;
    for (const Entry& entry : m_entries)
        all += line(entry);
    return all;
}

QString DialogueTranscript::line(const Entry& entry) {
    return QStringLiteral("%1 %2 %3 %4\n")
        .arg(entry.ms / 1000.0, 9, 'f', 3)
        .arg(entry.port, 5)
        .arg(entry.direction == Direction::Sent ? QLatin1Char('>') : QLatin1Char('<'))
        .arg(visible(entry.bytes));
}

QString DialogueTranscript::visible(const QByteArray& bytes) {
    static const char digits[] = "0123456789abcdef";
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        switch (b) {
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        default:
            if (b >= 0x20 && b < 0x7f) {
                out += QLatin1Char(c);
            } else {
                out += QLatin1String("\\x");
                out += QLatin1Char(digits[b >> 4]);
                out += QLatin1Char(digits[b & 15]);
            }
        }
    }
    return out;
}

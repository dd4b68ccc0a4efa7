#include "LineReader.h"

std::optional<QByteArray> LineReader::takeLine() {
    const qsizetype end = m_pending.indexOf('\n');
    if (end < 0)
        return std::nullopt;
    QByteArray line = m_pending.left(end);
    m_pending.remove(0, end + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

std::optional<QByteArray> LineReader::takeKey() {
    if (m_pending.isEmpty())
        return std::nullopt;
    const char key = m_pending.at(0);
    if (key == '\n') {
        m_pending.remove(0, 1);
        return QByteArray();
    }
    if (key == '\r') {
        // Wait for what follows, so that "\r\n" split between two pieces is one answer.
        if (m_pending.size() < 2)
            return std::nullopt;
        m_pending.remove(0, m_pending.at(1) == '\n' ? 2 : 1);
        return QByteArray();
    }
    m_pending.remove(0, 1);
    return QByteArray(1, key);
}

#pragma once

#include <QByteArray>

#include <optional>

// The adaptor reads what the terminal types as a stream, not as packets: one
// answer may come in pieces, and several answers may come in one piece when
// the terminal types ahead of the questions.
class LineReader {
public:
    void append(const QByteArray& bytes) { m_pending += bytes; }

    // The next complete line without its end ("\r\n" or "\n"), once its
    // line feed has come in.
    [[nodiscard]] std::optional<QByteArray> takeLine();

    // The answer to a single-key question: the next byte as typed, no line
    // end needed; a line end typed instead is an empty answer (the default).
    [[nodiscard]] std::optional<QByteArray> takeKey();

private:
    QByteArray m_pending;
};

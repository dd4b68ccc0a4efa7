#include "Dialogue.h"

#include "Adaptor.h"

#include <algorithm>

namespace {
// Garbage goes out in pieces, and no faster than the terminal takes it.
constexpr qint64 kNoiseChunk = 64 * 1024;
constexpr qint64 kHighWater = 256 * 1024;
} // namespace

Dialogue::Dialogue(Adaptor& adaptor, QTcpSocket* socket, int number)
    : Session(adaptor, socket, number) {
    m_delay.setSingleShot(true);
    connect(&m_delay, &QTimer::timeout, this, [this] {
        m_headDue = true;
        pump();
    });
    connect(socket, &QTcpSocket::bytesWritten, this, &Dialogue::pump);
}

void Dialogue::ask(const QByteArray& question) {
    if (m_adaptor.misbehaviour().suppresses(question))
        return;
    m_out.push_back({question, true});
    pump();
}

void Dialogue::tell(const QByteArray& text) {
    m_out.push_back({text});
    pump();
}

void Dialogue::hangUp(const QByteArray& farewell) {
    m_hungUp = true;
    m_out.push_back({farewell, false, true});
    pump();
}

void Dialogue::onBytes(const QByteArray& bytes) {
    if (m_hungUp)
        return;
    const int closeAfter = m_adaptor.misbehaviour().closeAfterLines();
    m_lines += int(bytes.count('\n'));
    if (closeAfter > 0 && m_lines >= closeAfter) {
        // The connection drops in the middle of the dialogue, without a word.
        m_hungUp = true;
        m_out.clear();
        closeConnection();
        return;
    }
    m_input.append(bytes);
    consume();
}

void Dialogue::pump() {
    // Writing may report bytes written at once, which calls this again; the
    // outer call carries on instead, so the queue never changes under it.
    if (m_pumping)
        return;
    m_pumping = true;
    while (!m_out.empty() && m_socket->state() == QAbstractSocket::ConnectedState) {
        if (m_socket->bytesToWrite() > kHighWater)
            break; // bytesWritten brings us back
        if (m_out.front().garbage > 0) {
            const qint64 size = std::min(m_out.front().garbage, kNoiseChunk);
            m_out.front().garbage -= size;
            if (m_out.front().garbage == 0)
                m_out.pop_front();
            QByteArray noise(size, Qt::Uninitialized);
            for (qint64 i = 0; i < size; ++i)
                noise[i] = i % 16 == 0 ? '\0' : char(m_noise.bounded(256)); // NUL bytes among the noise
            write(noise);
            continue;
        }
        const int delay = m_adaptor.misbehaviour().promptDelayMs();
        if (m_out.front().question && delay > 0 && !m_headDue) {
            if (!m_delay.isActive())
                m_delay.start(delay);
            break;
        }
        m_headDue = false;
        const Out out = std::move(m_out.front());
        m_out.pop_front();
        const qint64 flood = m_adaptor.misbehaviour().floodBytes();
        if (out.question && flood > 0 && !m_flooded) {
            // Noise after the first question, then the same question again.
            m_flooded = true;
            m_out.push_front({out.bytes, true});
            m_out.push_front({{}, false, false, flood});
        }
        write(out.bytes);
        if (out.closeAfter) {
            closeConnection();
            break;
        }
    }
    m_pumping = false;
}

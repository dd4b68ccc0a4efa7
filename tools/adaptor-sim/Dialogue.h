#pragma once

#include "LineReader.h"
#include "Session.h"

#include <QRandomGenerator>
#include <QTimer>

#include <deque>

// A configuration dialogue with the terminal: the adaptor asks, the terminal
// types. Each question leaves as one chunk of its own, since the tool reads
// only the end of the latest chunk. Input is taken as a stream, so answers
// typed ahead of their question are kept for it.
//
// The misbehaviour modes act here: slow and suppressed questions, garbage
// after the first question, and a connection that drops in the middle.
class Dialogue : public Session {
    Q_OBJECT
public:
    Dialogue(Adaptor& adaptor, QTcpSocket* socket, int number);

protected:
    // Answers as much of the pending input as the dialogue can.
    virtual void consume() = 0;

    void ask(const QByteArray& question);
    void tell(const QByteArray& text);
    // Says goodbye and closes; nothing typed after that is answered.
    void hangUp(const QByteArray& farewell);
    [[nodiscard]] bool hungUp() const { return m_hungUp; }

    LineReader m_input;

private:
    void onBytes(const QByteArray& bytes) final;
    void pump();

    struct Out {
        QByteArray bytes;
        bool question = false;
        bool closeAfter = false;
        qint64 garbage = 0; // this many bytes of noise instead of text
    };
    std::deque<Out> m_out;
    QTimer m_delay;
    bool m_headDue = false;
    bool m_pumping = false;
    bool m_flooded = false;
    bool m_hungUp = false;
    int m_lines = 0;
    QRandomGenerator m_noise{20771};
};

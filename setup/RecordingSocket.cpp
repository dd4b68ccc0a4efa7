#include "setup/RecordingSocket.h"

RecordingSocket::RecordingSocket(SocketControl& inner, DialogueTranscript& transcript)
    : m_inner(inner)
    , m_transcript(transcript) {
    m_inner.onConnect = [this] {
        if (onConnect)
            onConnect();
    };
    m_inner.onDataArrival = [this](Long total) {
        if (onDataArrival)
            onDataArrival(total);
    };
    m_inner.onClose = [this] {
        if (onClose)
            onClose();
    };
    m_inner.onSendComplete = [this] {
        if (onSendComplete)
            onSendComplete();
    };
}

RecordingSocket::~RecordingSocket() {
    m_inner.onConnect = nullptr;
    m_inner.onDataArrival = nullptr;
    m_inner.onClose = nullptr;
    m_inner.onSendComplete = nullptr;
}

void RecordingSocket::setRemotePort(Long port) {
    m_inner.setRemotePort(port);
    m_port = int(port);
}

void RecordingSocket::sendData(const QString& data) {
    m_inner.sendData(data);
    // Noted once the control took it: a send that threw went nowhere.
    m_transcript.add(DialogueTranscript::Direction::Sent, m_port, data.toLatin1());
}

QString RecordingSocket::getData() {
    const QString data = m_inner.getData();
    m_transcript.add(DialogueTranscript::Direction::Received, m_port, data.toLatin1());
    return data;
}

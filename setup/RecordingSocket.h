#pragma once

#include "net/SocketControl.h"
#include "setup/DialogueTranscript.h"

// A socket control that notes in the run's transcript every send and every
// chunk the logic fetches, and otherwise passes each call and event straight
// through: the logic sees the same control, and the wire the same bytes at the
// same moments, with or without it.
class RecordingSocket : public SocketControl {
public:
    RecordingSocket(SocketControl& inner, DialogueTranscript& transcript);
    ~RecordingSocket() override;
    RecordingSocket(const RecordingSocket&) = delete;
    RecordingSocket& operator=(const RecordingSocket&) = delete;

    void setProtocol(Protocol protocol) override { m_inner.setProtocol(protocol); }
    void setRemoteAddress(quint32 address) override { m_inner.setRemoteAddress(address); }
    void setRemotePort(Long port) override;
    [[nodiscard]] int state() const override { return m_inner.state(); }
    void connect() override { m_inner.connect(); }
    void close() override { m_inner.close(); }
    void sendData(const QString& data) override;
    QString getData() override;
    [[nodiscard]] RunTimeError lastError() const override { return m_inner.lastError(); }
    void setBroadcastScope(quint32 address) override { m_inner.setBroadcastScope(address); }

private:
    SocketControl& m_inner;
    DialogueTranscript& m_transcript;
    int m_port = 0;
};

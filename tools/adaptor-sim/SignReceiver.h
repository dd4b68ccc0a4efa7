#pragma once

#include "Session.h"

// The sign behind the adaptor, on TCP 3001. It takes framed messages (NUL
// bytes, SOH, the type and address such as "Z00", STX, the body, EOT) from a
// byte stream that may split or join them anywhere, and keeps the text that a
// text message would put on the display: body "A", file label, an optional
// ESC with position and mode, then the text.
class SignReceiver : public Session {
    Q_OBJECT
public:
    using Session::Session;

protected:
    void onBytes(const QByteArray& bytes) override;

private:
    QByteArray m_buffer;
};

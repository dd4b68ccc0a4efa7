#pragma once

#include "Dialogue.h"

#include <array>

// The numbered setup menu of a family 1 adaptor (TCP 9999). On connecting it
// shows its MAC and waits for Enter; then the main menu. "0" walks through
// the server settings: the four IP octets, whether to set a gateway (one key,
// no Enter), the four gateway octets, the host bits of the netmask and the
// setup password. "1" walks through the sixteen questions of serial channel 1.
// "9" saves and closes, "8" closes without saving. Each answer is applied as
// soon as it is typed; an empty answer keeps the value shown in brackets.
class MenuDialogue : public Dialogue {
    Q_OBJECT
public:
    using Dialogue::Dialogue;
    void start() override;

protected:
    void consume() override;

private:
    enum class Step { Wake, Choice, IpOctet, GatewayKey, GatewayOctet, HostBits, SetupPassword, Channel };

    void showMenu();
    void askChannelQuestion();
    void choose(const QByteArray& choice);
    void answerChannel(const QByteArray& answer);
    [[nodiscard]] QByteArray settings() const;

    Step m_step = Step::Wake;
    int m_index = 0;
    std::array<int, 4> m_octets{};
};

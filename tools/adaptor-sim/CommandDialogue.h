#pragma once

#include "Dialogue.h"

// The command line of a family 2 adaptor (TCP 23). It asks for a user name,
// then offers the user level "Local_1> "; "SET PRIVILEGED" with the right
// password gives the privileged level "Local_1>> ", where the CHANGE commands
// set the network and serial settings. "LOGOUT" closes the connection.
// Keywords are taken in any case; lines may end "\n" or "\r\n".
class CommandDialogue : public Dialogue {
    Q_OBJECT
public:
    using Dialogue::Dialogue;
    void start() override;

protected:
    void consume() override;

private:
    enum class Step { Starting, Username, Command, Password };

    void command(const QByteArray& line);
    [[nodiscard]] bool change(const QList<QByteArray>& words);
    void prompt();

    Step m_step = Step::Starting;
    bool m_privileged = false;
};

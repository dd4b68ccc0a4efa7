#include "setup/CommandLineDialogue.h"

namespace {
// A privileged prompt: "Local_" and one more character, then ">> ".
bool isPrivilegedPrompt(const QString& p) {
    return p.startsWith(QLatin1String("Local_")) && p.endsWith(QLatin1String(">> "));
}
} // namespace

void CommandLineDialogue::begin(const AdaptorTarget& target, bool entryMade) {
    m_target = target;
    m_entryMade = entryMade;
    m_run.counter = 0;
    m_run.dialogueStep = Login;
}

void CommandLineDialogue::send(const QString& line) {
    m_socket.sendData(line + QChar(10));
}

bool CommandLineDialogue::step() {
    const QString chunk = m_run.commandLineChunks.at(Long(m_run.counter) - 1);
    const QString prompt = chunk.right(10);

    // The three steps of the login, each with its own prompt.
    struct Login {
        Step step;
        bool matches;
        QString shown;
        QString line;
        Step next;
    };
    const Login logins[] = {
        {Step::Login, chunk.right(10) == QLatin1String("Username> "), QStringLiteral("Username> "),
         QStringLiteral("hello"), BecomePrivileged},
        {BecomePrivileged, chunk.right(9).left(6) == QLatin1String("Local_"), QStringLiteral("Local_"),
         QStringLiteral("SET PRIVILEGED"), GivePassword},
        {GivePassword, chunk.right(10) == QLatin1String("Password> "), QStringLiteral("Password> "),
         kPassword, SetAddress},
    };
    for (const Login& login : logins) {
        if (login.step != m_run.dialogueStep)
            continue;
        if (login.matches) {
            m_transcriptBox.setText(login.shown);
            send(login.line);
            m_run.dialogueStep = login.next;
        }
        return false;
    }

    // The privileged steps all wait for the same prompt.
    struct Change {
        Step step;
        QString line;
        Step next;
    };
    const Change changes[] = {
        {SetAddress, QStringLiteral("CHANGE IPAddress ") + AddressRules::dotted(m_target.ip), SetGateway},
        {SetGateway, QStringLiteral("CHANGE Gateway ") + AddressRules::dotted(m_target.gateway), SetMask},
        {SetMask, QStringLiteral("CHANGE Subnet Mask ") + AddressRules::dotted(m_target.mask), SetSpeed},
        {SetSpeed, QStringLiteral("CHANGE SPEED 9600"), SetCharacterSize},
        {SetCharacterSize, QStringLiteral("CHANGE CHARSIZE 8"), SetStopBits},
        {SetStopBits, QStringLiteral("CHANGE STOPBITS 1"), SetParity},
        {SetParity, QStringLiteral("CHANGE PARITY NONE"), LogOut},
        {LogOut, QStringLiteral("Logout"), LoggedOut},
    };
    for (const Change& change : changes) {
        if (change.step != m_run.dialogueStep)
            continue;
        if (!isPrivilegedPrompt(prompt))
            return false;
        m_transcriptBox.setText(prompt);
        send(change.line);
        if (change.next == LoggedOut)
            return true;
        m_run.dialogueStep = change.next;
        return false;
    }
    return false;
}

void CommandLineDialogue::finish() {
    m_run.dialogueStep = LoggedOut;
    if (m_entryMade)
        m_binding.release(m_target.ip);
}

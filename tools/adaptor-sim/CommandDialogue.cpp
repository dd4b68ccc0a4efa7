#include "CommandDialogue.h"

#include "Adaptor.h"
#include "AdaptorPrompts.h"

#include <QRegularExpression>

namespace P = AdaptorPrompts;

namespace {
// The adaptor asks for the user name a moment after the connection stands, as
// its telnet server starts up; a prompt that raced the terminal's own
// "connected" news could be missed by the terminal.
constexpr int kLoginDelayMs = 250;

std::optional<QString> dottedQuad(const QByteArray& text) {
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch m = form.match(QString::fromLatin1(text));
    if (!m.hasMatch())
        return std::nullopt;
    for (int i = 1; i <= 4; ++i) {
        if (m.captured(i).toInt() > 255)
            return std::nullopt;
    }
    return QString::fromLatin1(text);
}

std::optional<int> numberIn(const QByteArray& text, int low, int high) {
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= low && value <= high ? std::optional(value) : std::nullopt;
}
} // namespace

void CommandDialogue::start() {
    QTimer::singleShot(kLoginDelayMs, this, [this] {
        m_step = Step::Username;
        ask(P::loginPrompt());
        consume(); // a name typed ahead of the prompt
    });
}

void CommandDialogue::prompt() {
    ask(m_privileged ? P::privilegedPrompt() : P::userPrompt());
}

void CommandDialogue::consume() {
    while (!hungUp() && m_step != Step::Starting) {
        const std::optional<QByteArray> line = m_input.takeLine();
        if (!line)
            return;
        switch (m_step) {
        case Step::Starting:
            break;
        case Step::Username:
            if (line->trimmed().isEmpty()) {
                ask(P::loginPrompt());
            } else {
                m_step = Step::Command;
                prompt();
            }
            break;
        case Step::Password:
            m_step = Step::Command;
            if (!m_adaptor.misbehaviour().rejectsEveryPassword() &&
                *line == m_adaptor.password().toLatin1()) {
                m_privileged = true;
                ++m_adaptor.state().command.privilegedLogins;
            } else {
                tell(P::wrongPassword());
            }
            prompt();
            break;
        case Step::Command:
            command(*line);
            break;
        }
        m_adaptor.changed();
    }
}

void CommandDialogue::command(const QByteArray& line) {
    const QList<QByteArray> words = line.simplified().toUpper().split(' ');
    const QByteArray& verb = words.first();
    if (verb.isEmpty()) {
        prompt();
    } else if (verb == "LOGOUT" || verb == "LO") {
        m_adaptor.state().command.loggedOut = true;
        hangUp(P::logoutGoodbye());
    } else if (verb == "SET" && words.size() == 2 && (words[1] == "PRIVILEGED" || words[1] == "PRIV")) {
        if (m_privileged) {
            prompt();
        } else {
            m_step = Step::Password;
            ask(P::passwordPrompt());
        }
    } else if (verb == "CHANGE" && words.size() >= 2) {
        if (!m_privileged)
            tell(P::notPrivileged());
        else if (!change(line.simplified().split(' ').mid(1)))
            tell(P::badValue());
        prompt();
    } else {
        tell(P::unknownCommand());
        prompt();
    }
}

bool CommandDialogue::change(const QList<QByteArray>& words) {
    CommandConfig& c = m_adaptor.state().command;
    const QByteArray item = words.first().toUpper();
    const QByteArray value = words.size() == 2 ? words[1] : QByteArray();
    if (item == "IPADDRESS") {
        if (const auto ip = dottedQuad(value)) {
            c.ip = *ip;
            return true;
        }
    } else if (item == "GATEWAY") {
        if (const auto ip = dottedQuad(value)) {
            c.gateway = *ip;
            return true;
        }
    } else if (item == "SUBNET" && words.size() == 3 && words[1].toUpper() == "MASK") {
        if (const auto mask = dottedQuad(words[2])) {
            c.subnetMask = *mask;
            return true;
        }
    } else if (item == "SPEED") {
        if (const auto speed = numberIn(value, 300, 921600)) {
            c.speed = *speed;
            return true;
        }
    } else if (item == "CHARSIZE") {
        if (const auto size = numberIn(value, 5, 8)) {
            c.charsize = *size;
            return true;
        }
    } else if (item == "STOPBITS") {
        if (const auto bits = numberIn(value, 1, 2)) {
            c.stopbits = *bits;
            return true;
        }
    } else if (item == "PARITY") {
        const QByteArray parity = value.toUpper();
        if (parity == "NONE" || parity == "EVEN" || parity == "ODD" || parity == "MARK" ||
            parity == "SPACE") {
            c.parity = QString::fromLatin1(parity);
            return true;
        }
    }
    return false;
}

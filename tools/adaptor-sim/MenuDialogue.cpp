#include "MenuDialogue.h"

#include "Adaptor.h"
#include "AdaptorPrompts.h"

#include <QHostAddress>

namespace P = AdaptorPrompts;

namespace {
constexpr int kChannelQuestions = 16; // baud, interface mode, flow, port, and twelve more

std::array<int, 4> octetsOf(const QString& dotted) {
    const quint32 value = QHostAddress(dotted).toIPv4Address();
    return {int(value >> 24), int(value >> 16 & 0xff), int(value >> 8 & 0xff), int(value & 0xff)};
}

QString dotted(const std::array<int, 4>& octets) {
    return QStringLiteral("%1.%2.%3.%4").arg(octets[0]).arg(octets[1]).arg(octets[2]).arg(octets[3]);
}

// A typed number, or nothing when the answer is empty or not a number in range.
std::optional<int> numberIn(const QByteArray& answer, int low, int high, int base = 10) {
    bool ok = false;
    const int value = answer.trimmed().toInt(&ok, base);
    return ok && value >= low && value <= high ? std::optional(value) : std::nullopt;
}
} // namespace

void MenuDialogue::start() {
    tell(P::menuBanner(m_adaptor.macUpper()));
}

QByteArray MenuDialogue::settings() const {
    const MenuConfig& c = m_adaptor.state().menu;
    return "*** Basic parameters\r\nIP addr " + c.ip.toLatin1() + ", gateway " + c.gateway.toLatin1() +
           ", netmask host bits " + QByteArray::number(c.hostBits) + "\r\n*** Channel 1\r\nBaudrate " +
           QByteArray::number(c.baud) + ", I/F Mode " + c.interfaceMode.toLatin1() + ", Flow " +
           c.flow.toLatin1() + ", Port " + QByteArray::number(c.port) + "\r\n";
}

void MenuDialogue::showMenu() {
    m_step = Step::Choice;
    ask(P::mainMenu(settings()));
}

void MenuDialogue::consume() {
    MenuConfig& config = m_adaptor.state().menu;
    while (!hungUp()) {
        // The gateway question takes one key; everything else a line.
        const std::optional<QByteArray> answer =
            m_step == Step::GatewayKey ? m_input.takeKey() : m_input.takeLine();
        if (!answer)
            return;
        switch (m_step) {
        case Step::Wake:
            showMenu();
            break;
        case Step::Choice:
            choose(answer->trimmed());
            break;
        case Step::IpOctet:
            if (const auto octet = numberIn(*answer, 0, 255))
                m_octets[m_index] = *octet;
            if (++m_index < 4) {
                ask(P::ipOctetQuestion(m_index, m_octets[m_index]));
            } else {
                config.ip = dotted(m_octets);
                m_step = Step::GatewayKey;
                ask(P::gatewayQuestion(config.gateway != QLatin1String("0.0.0.0")));
            }
            break;
        case Step::GatewayKey:
            if (answer->toUpper() == "Y") {
                m_step = Step::GatewayOctet;
                m_index = 0;
                m_octets = octetsOf(config.gateway);
                ask(P::gatewayOctetQuestion(0, m_octets[0]));
            } else {
                m_step = Step::HostBits;
                ask(P::hostBitsQuestion(config.hostBits));
            }
            break;
        case Step::GatewayOctet:
            if (const auto octet = numberIn(*answer, 0, 255))
                m_octets[m_index] = *octet;
            if (++m_index < 4) {
                ask(P::gatewayOctetQuestion(m_index, m_octets[m_index]));
            } else {
                config.gateway = dotted(m_octets);
                m_step = Step::HostBits;
                ask(P::hostBitsQuestion(config.hostBits));
            }
            break;
        case Step::HostBits:
            if (const auto bits = numberIn(*answer, 0, 30))
                config.hostBits = *bits;
            m_step = Step::SetupPassword;
            ask(P::setupPasswordQuestion());
            break;
        case Step::SetupPassword:
            showMenu();
            break;
        case Step::Channel:
            answerChannel(*answer);
            break;
        }
        m_adaptor.changed();
    }
}

void MenuDialogue::choose(const QByteArray& choice) {
    MenuConfig& config = m_adaptor.state().menu;
    if (choice == "0") {
        m_step = Step::IpOctet;
        m_index = 0;
        m_octets = octetsOf(config.ip);
        ask(P::ipOctetQuestion(0, m_octets[0]));
    } else if (choice == "1") {
        m_step = Step::Channel;
        m_index = 0;
        askChannelQuestion();
    } else if (choice == "8") {
        hangUp(P::unsavedGoodbye());
    } else if (choice == "9") {
        config.saved = true;
        hangUp(P::savedGoodbye());
    } else {
        showMenu();
    }
}

void MenuDialogue::askChannelQuestion() {
    const MenuConfig& c = m_adaptor.state().menu;
    switch (m_index) {
    case 0:
        ask(P::baudQuestion(c.baud));
        break;
    case 1:
        ask(P::interfaceModeQuestion(c.interfaceMode.toLatin1()));
        break;
    case 2:
        ask(P::flowQuestion(c.flow.toLatin1()));
        break;
    case 3:
        ask(P::portQuestion(c.port));
        break;
    default:
        ask(P::furtherChannelQuestions().at(m_index - 4));
    }
}

void MenuDialogue::answerChannel(const QByteArray& answer) {
    MenuConfig& c = m_adaptor.state().menu;
    const auto hexByte = [&]() -> std::optional<QString> {
        if (!numberIn(answer, 0, 255, 16))
            return std::nullopt;
        return QString::fromLatin1(answer.trimmed().toUpper()).rightJustified(2, QLatin1Char('0'));
    };
    switch (m_index) {
    case 0:
        if (const auto baud = numberIn(answer, 300, 921600))
            c.baud = *baud;
        break;
    case 1:
        if (const auto mode = hexByte())
            c.interfaceMode = *mode;
        break;
    case 2:
        if (const auto flow = hexByte())
            c.flow = *flow;
        break;
    case 3:
        if (const auto port = numberIn(answer, 1, 65535))
            c.port = *port;
        break;
    default:
        break; // kept as they are
    }
    if (++m_index < kChannelQuestions)
        askChannelQuestion();
    else
        showMenu();
}

#include "net/NeighbourCommand.h"

#include "base/RunTimeError.h"
#include "net/NetHelper.h"
#include "net/NetLog.h"

#include <QStringList>

namespace {

using ArpRequest = NeighbourCommand::ArpRequest;

[[nodiscard]] bool isAsciiDigit(QChar c) {
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

[[nodiscard]] int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Dotted decimal only: no hexadecimal, octal or shortened forms, so that the
// entry is made for the very address the adaptor is given ("010" is ten).
[[nodiscard]] std::optional<quint32> parseAddress(const QString& text) {
    const QStringList octets = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (octets.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QString& octet : octets) {
        if (octet.isEmpty() || octet.size() > 3)
            return std::nullopt;
        quint32 value = 0;
        for (QChar c : octet) {
            if (!isAsciiDigit(c))
                return std::nullopt;
            value = value * 10 + (c.unicode() - u'0');
        }
        if (value > 255)
            return std::nullopt;
        address = (address << 8) | value;
    }
    return address;
}

[[nodiscard]] std::optional<std::array<quint8, 6>> parseMac(const QString& text) {
    if (text.size() != 17)
        return std::nullopt;
    const QChar separator = text.at(2);
    if (separator != QLatin1Char('-') && separator != QLatin1Char(':'))
        return std::nullopt;
    std::array<quint8, 6> mac{};
    for (int pair = 0; pair < 6; ++pair) {
        const int at = pair * 3;
        const int high = hexValue(text.at(at));
        const int low = hexValue(text.at(at + 1));
        if (high < 0 || low < 0 || (pair < 5 && text.at(at + 2) != separator))
            return std::nullopt;
        mac[pair] = quint8(high << 4 | low);
    }
    return mac;
}

} // namespace

std::optional<NeighbourCommand::ArpRequest> NeighbourCommand::parse(const QString& commandLine,
                                                                    QString* why) {
    const auto refuse = [why](const char* reason) -> std::optional<ArpRequest> {
        if (why)
            *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    const QStringList fields = commandLine.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    if (fields.size() < 3 || fields.at(0) != QLatin1String("arp"))
        return refuse("not an arp command line");
    ArpRequest request;
    if (fields.at(1) == QLatin1String("-s")) {
        request.kind = ArpRequest::Set;
        if (fields.size() != 4)
            return refuse("expected exactly \"arp -s <address> <MAC>\"");
    } else if (fields.at(1) == QLatin1String("-d")) {
        request.kind = ArpRequest::Delete;
        if (fields.size() != 3)
            return refuse("expected exactly \"arp -d <address>\"");
    } else {
        return refuse("only -s and -d are carried out");
    }
    const auto address = parseAddress(fields.at(2));
    if (!address)
        return refuse("the address is not four decimal octets 0-255");
    request.address = *address;
    if (request.kind == ArpRequest::Set) {
        const auto mac = parseMac(fields.at(3));
        if (!mac)
            return refuse("the MAC is not six hexadecimal pairs joined by - or :");
        request.mac = *mac;
    }
    return request;
}

void NeighbourCommand::launch(const QString& commandLine, int windowStyle) {
    Q_UNUSED(windowStyle) // the neighbour table is changed directly: there is no window to show
    QString why;
    const auto request = parse(commandLine, &why);
    if (!request) {
        qCWarning(lcNet).nospace() << "Host command " << commandLine << " refused: " << qPrintable(why);
        throw RunTimeError(RunTimeError::CommandNotStarted);
    }
    const bool set = request->kind == ArpRequest::Set;
    const helper::Request ask{set ? helper::Request::NeighAdd : helper::Request::NeighDel, request->address,
                              request->mac};
    const auto answer = m_helper.ask(ask);
    const QString action = QString::fromStdString(helper::formatRequest(ask));
    if (!answer)
        qCWarning(lcNet).noquote() << action << "not carried out: the network helper is not available";
    else if (answer->contains(QLatin1String("CAP_NET_ADMIN")))
        qCWarning(lcNet).noquote() << action << answer->mid(7)
                                   << QStringLiteral("; ") + m_helper.capabilityAdvice();
    else if (answer->startsWith(QLatin1String("failed")))
        qCWarning(lcNet).noquote() << action << answer->mid(7);
    else // refusals are written out by the helper itself
        qCInfo(lcNet).noquote() << action << *answer;
}

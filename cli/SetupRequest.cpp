#include "cli/SetupRequest.h"

#include "address/AddressRules.h"
#include "setup/SetupCommand.h"

#include <QRegularExpression>
#include <QStringList>

#include <tuple>
#include <utility>

std::optional<SetupRequest> SetupRequest::from(const QString& mac, const QString& ip, const QString& mask,
                                               const QString& gateway, bool signTest, QString* why,
                                               QString* field) {
    const auto refuse = [why, field](const QString& reason) -> std::optional<SetupRequest> {
        if (why)
            *why = reason;
        if (field)
            *field = reason.section(QLatin1Char(' '), 0, 0).mid(2);
        return std::nullopt;
    };
    static const QRegularExpression macForm(
        QStringLiteral("^[0-9A-Fa-f]{2}([-:]?)[0-9A-Fa-f]{2}(\\1[0-9A-Fa-f]{2}){4}$"));
    if (!macForm.match(mac).hasMatch())
        return refuse(
            QStringLiteral("--mac %1: six hexadecimal pairs, joined by '-', ':' or nothing").arg(mac));
    SetupRequest r;
    const QString digits = QString(mac).remove(QLatin1Char('-')).remove(QLatin1Char(':'));
    for (int i = 0; i < 6; ++i)
        r.mac[i] = digits.mid(i * 2, 2);
    const std::array<std::tuple<const char*, const QString*, std::array<QString, 4>*>, 3> quads{
        {{"--ip", &ip, &r.ip}, {"--mask", &mask, &r.mask}, {"--gateway", &gateway, &r.gateway}}};
    for (const auto& [option, text, out] : quads) {
        QString reason;
        if (!quadFields(QLatin1String(option), *text, 255, *out, reason))
            return refuse(reason);
    }
    // Well formed; the same checks as the window's then make the target,
    // or say why the values would misconfigure the sign. An octet of 255 is
    // an ordinary host's where the subnet makes it one (10.78.255.254/16).
    const auto value = [](const std::array<QString, 4>& octets) {
        return *AddressRules::readDotted(QStringList(octets.begin(), octets.end()).join(QLatin1Char('.')));
    };
    const auto checked =
        SetupCommand::targetOf(digits.toLower(), value(r.ip), value(r.mask), value(r.gateway));
    if (const auto* refusal = std::get_if<SetupCommand::Refusal>(&checked)) {
        const auto& [option, text] = refusal->field == QLatin1String("ip") ? std::pair{"--ip", &ip}
                                     : refusal->field == QLatin1String("mask")
                                         ? std::pair{"--mask", &mask}
                                         : std::pair{"--gateway", &gateway};
        return refuse(QStringLiteral("%1 %2: %3").arg(QLatin1String(option), *text, refusal->detail));
    }
    r.target = std::get<AdaptorTarget>(checked);
    r.signTest = signTest;
    return r;
}

bool SetupRequest::quadFields(const QString& option, const QString& text, int bound,
                              std::array<QString, 4>& out, QString& why) {
    static const QRegularExpression octet(QStringLiteral("^[0-9]{1,3}$"));
    const QStringList octets = text.split(QLatin1Char('.'));
    if (octets.size() != 4) {
        why = QStringLiteral("%1 %2: a dotted quad").arg(option, text);
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (!octet.match(octets[i]).hasMatch() || octets[i].toInt() > bound) {
            why =
                QStringLiteral("%1 %2: each octet one to three digits, 0 to %3").arg(option, text).arg(bound);
            return false;
        }
        out[std::size_t(i)] = QString::number(octets[i].toInt());
    }
    return true;
}

bool SetupRequest::setCurrentIp(const QString& text, QString* why, QString* field) {
    std::array<QString, 4> octets;
    QString reason;
    if (!quadFields(QStringLiteral("--current-ip"), text, 255, octets, reason)) {
        if (why)
            *why = reason;
        if (field)
            *field = QStringLiteral("current_ip");
        return false;
    }
    currentIp = QStringList(octets.begin(), octets.end()).join(QLatin1Char('.'));
    // Its subnet is not known here, so a 255 may stand in it; an address no
    // device can hold may not.
    if (const auto kind = AddressRules::unassignableKind(*AddressRules::readDotted(currentIp))) {
        if (why)
            *why = QStringLiteral("--current-ip %1: %2 is %3: no adaptor answers there")
                       .arg(text, currentIp, *kind);
        if (field)
            *field = QStringLiteral("current_ip");
        currentIp.clear();
        return false;
    }
    return true;
}

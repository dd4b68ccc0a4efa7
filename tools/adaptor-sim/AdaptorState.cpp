#include "AdaptorState.h"

#include <QJsonArray>

namespace {
QJsonValue orNull(const std::optional<QString>& value) {
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}
QString latin1(const QByteArray& bytes) {
    return QString::fromLatin1(bytes);
}
} // namespace

QJsonObject AdaptorState::toJson() const {
    QJsonObject config;
    if (family == 1) {
        config = {{"ip", menu.ip},
                  {"gateway", menu.gateway},
                  {"hostBits", menu.hostBits},
                  {"baud", menu.baud},
                  {"interfaceMode", menu.interfaceMode},
                  {"flow", menu.flow},
                  {"port", menu.port},
                  {"saved", menu.saved}};
    } else {
        config = {{"ip", command.ip},
                  {"gateway", command.gateway},
                  {"subnetMask", command.subnetMask},
                  {"speed", command.speed},
                  {"charsize", command.charsize},
                  {"stopbits", command.stopbits},
                  {"parity", command.parity},
                  {"privilegedLogins", command.privilegedLogins},
                  {"loggedOut", command.loggedOut}};
    }
    QJsonArray datagramList;
    for (const DatagramRecord& d : datagrams)
        datagramList.append(
            QJsonObject{{"from", d.from}, {"hex", latin1(d.bytes.toHex())}, {"accepted", d.accepted}});
    QJsonArray signList;
    std::optional<QString> signText;
    for (const SignRecord& s : signMessages) {
        const std::optional<QString> text = s.text ? std::optional(latin1(*s.text)) : std::nullopt;
        if (text)
            signText = text;
        signList.append(QJsonObject{{"address", latin1(s.address)},
                                    {"body", latin1(s.body)},
                                    {"frameHex", latin1(s.frame.toHex())},
                                    {"text", orNull(text)}});
    }
    QJsonArray connectionList;
    for (const ConnectionRecord& c : connections) {
        connectionList.append(
            QJsonObject{{"number", c.number},
                        {"port", c.port},
                        {"file", QStringLiteral("conn-%1-%2.bin").arg(c.number).arg(c.port)},
                        {"received", latin1(c.received.toHex())},
                        {"sentBytes", c.sentBytes},
                        {"closedBy", c.closedBy.isEmpty() ? QJsonValue() : QJsonValue(c.closedBy)}});
    }
    return {{"family", family},
            {"mac", mac},
            {"interface", interfaceName},
            {"misbehave", QJsonArray::fromStringList(misbehave)},
            {"adoptedIp", orNull(adoptedIp)},
            {"reboots", reboots},
            {"config", config},
            {"datagrams", datagramList},
            {"signMessages", signList},
            {"signText", orNull(signText)},
            {"connections", connectionList}};
}

ConnectionRecord* AdaptorState::connection(int number) {
    for (ConnectionRecord& c : connections) {
        if (c.number == number)
            return &c;
    }
    return nullptr;
}

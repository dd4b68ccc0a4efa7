#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the setup menu of a family 1 adaptor holds. The serial settings start
// different from what the tool types, so that a recording shows they changed.
struct MenuConfig {
    QString ip = QStringLiteral("0.0.0.0");
    QString gateway = QStringLiteral("0.0.0.0");
    int hostBits = 0;
    int baud = 19200;
    QString interfaceMode = QStringLiteral("7C");
    QString flow = QStringLiteral("00");
    int port = 10001;
    bool saved = false;
};

// What the command line of a family 2 adaptor holds.
struct CommandConfig {
    QString ip = QStringLiteral("0.0.0.0");
    QString gateway = QStringLiteral("0.0.0.0");
    QString subnetMask = QStringLiteral("0.0.0.0");
    int speed = 19200;
    int charsize = 7;
    int stopbits = 2;
    QString parity = QStringLiteral("EVEN");
    int privilegedLogins = 0;
    bool loggedOut = false;
};

struct DatagramRecord {
    QString from;
    QByteArray bytes;
    bool accepted = false;
};

// One framed message to the sign.
struct SignRecord {
    QByteArray frame;               // from the leading NUL bytes to the end byte
    QByteArray address;             // between start-of-header and start-of-text, e.g. "Z00"
    QByteArray body;                // between start-of-text and end-of-transmission
    std::optional<QByteArray> text; // what the sign shows, for a text message
};

struct ConnectionRecord {
    int number = 0;
    quint16 port = 0;
    QByteArray received;
    qint64 sentBytes = 0;
    QString closedBy; // "peer", "adaptor", or empty while open
};

// Everything the adaptor knows and has seen; written out as summary.json.
struct AdaptorState {
    int family = 0;
    QString mac;
    QString interfaceName;
    QStringList misbehave;
    std::optional<QString> adoptedIp;
    int reboots = 0;
    MenuConfig menu;
    CommandConfig command;
    QList<DatagramRecord> datagrams;
    QList<SignRecord> signMessages;
    QList<ConnectionRecord> connections;

    [[nodiscard]] QJsonObject toJson() const;
    [[nodiscard]] ConnectionRecord* connection(int number);
};

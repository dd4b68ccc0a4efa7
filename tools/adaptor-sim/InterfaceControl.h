#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The adaptor's own interface, changed with the ip tool (an argument vector,
// no shell): its hardware address and the IP address it takes on.
class InterfaceControl {
public:
    explicit InterfaceControl(QString interfaceName)
        : m_interface(std::move(interfaceName)) {}

    bool setMac(const QString& dashedMac, QString* error);
    bool addAddress(const QHostAddress& address, int prefixLength, QString* error);
    bool removeAddress(const QHostAddress& address, int prefixLength, QString* error);
    // Whether the interface holds this IPv4 address already.
    [[nodiscard]] bool holds(const QHostAddress& address) const;
    [[nodiscard]] const QString& name() const { return m_interface; }

private:
    bool ip(const QStringList& args, QString* error);

    QString m_interface;
};

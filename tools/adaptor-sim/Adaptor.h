#pragma once

#include "AdaptorState.h"
#include "InterfaceControl.h"
#include "Misbehaviour.h"
#include "Recorder.h"

#include <QHostAddress>
#include <QLoggingCategory>
#include <QObject>
#include <QTcpServer>
#include <QUdpSocket>

#include <functional>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcSim)

class PacketWatcher;

// One simulated adaptor on one interface. Family 1 takes its IP address from
// the assignment datagram and offers the setup menu on TCP 9999; family 2
// takes the address of the first IPv4 packet sent to its MAC and offers the
// command line on TCP 23. Both pass TCP 3001 on to the sign. Every change is
// written to the recording at once.
class Adaptor : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString interfaceName;
        QByteArray mac; // six octets
        int family = 1;
        QString password = QStringLiteral("tundra");
        QString recordDirectory;
        int prefixLength = 24;
        // An address it holds from the start, as an adaptor set up before.
        std::optional<QHostAddress> address;
    };

    Adaptor(Options options, Misbehaviour misbehaviour, QObject* parent = nullptr);
    ~Adaptor() override;

    // Sets the interface's MAC and opens every listener; false with error set on failure.
    bool start(QString* error);

    [[nodiscard]] AdaptorState& state() { return m_state; }
    [[nodiscard]] const AdaptorState& state() const { return m_state; }
    [[nodiscard]] const Misbehaviour& misbehaviour() const { return m_misbehaviour; }
    [[nodiscard]] const QString& password() const { return m_options.password; }
    // "00-20-4A-1B-2C-3D", as the adaptor prints it.
    [[nodiscard]] QByteArray macUpper() const;

    // What a power cycle does: the address the configuration holds becomes
    // the one the adaptor answers at. Until then a changed address is only saved.
    void reboot();

    // The state changed: write the summary again.
    void changed();
    void received(int number, const QByteArray& bytes);
    void sent(int number, const QByteArray& bytes);
    void closed(int number, const QString& by);
    void signMessage(const SignRecord& message);

private:
    using SessionFactory = std::function<void(QTcpSocket*, int)>;
    bool listen(quint16 port, SessionFactory factory, QString* error);
    void readDatagrams();
    // Takes on the address on the interface; the caller writes the summary.
    void adopt(const QHostAddress& address, const char* route);

    Options m_options;
    Misbehaviour m_misbehaviour;
    AdaptorState m_state;
    Recorder m_recorder;
    InterfaceControl m_interface;
    QUdpSocket* m_datagrams = nullptr;
    PacketWatcher* m_packets = nullptr;
    int m_connections = 0;
};

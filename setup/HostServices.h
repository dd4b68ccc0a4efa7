#pragma once

#include "net/IcmpEchoProbe.h"
#include "net/NeighbourCommand.h"
#include "net/NetHelper.h"
#include "net/PosixSocketControl.h"
#include "setup/Form1.h"

#include <utility>

// The host's own network services behind the logic's ports, as every front
// end uses them: the four socket controls, and the network helper with the
// echo probe and the host command that go through it.
struct HostServices {
    explicit HostServices(const QString& helperProgram)
        : helper(helperProgram) {}

    // Puts each service into its port, where the port is still empty.
    void fillEmpty(Form1Ports& ports) {
        for (auto [port, real] : {std::pair{&ports.wsClient, &wsClient}, std::pair{&ports.wsMenuTelnet, &wsMenuTelnet},
                                  std::pair{&ports.wsBroadcast, &wsBroadcast}, std::pair{&ports.wsTest, &wsTest}}) {
            if (!*port)
                *port = real;
        }
        if (!ports.probe)
            ports.probe = &probe;
        if (!ports.host)
            ports.host = &neighbours;
    }

    PosixSocketControl wsClient{SocketControl::Tcp};
    PosixSocketControl wsMenuTelnet{SocketControl::Tcp};
    PosixSocketControl wsBroadcast{SocketControl::Udp};
    PosixSocketControl wsTest{SocketControl::Tcp};
    NetHelper helper;
    IcmpEchoProbe probe{helper};
    NeighbourCommand neighbours{helper};
};

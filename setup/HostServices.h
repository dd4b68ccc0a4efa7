#pragma once

#include "net/HelperNeighbourTable.h"
#include "net/HelperProbe.h"
#include "net/NetHelper.h"
#include "net/HostSocketControl.h"
#include "setup/SetupController.h"

#include <utility>

// The host's own network services behind the logic's ports, as every front
// end uses them: the four socket controls, and the network helper with the
// echo probe and the neighbour table that go through it.
struct HostServices {
    explicit HostServices(const QString& helperProgram)
        : helper(helperProgram) {}

    // Puts each service into its port, where the port is still empty.
    void fillEmpty(SetupPorts& ports) {
        for (auto [port, real] :
             {std::pair{&ports.commandLineSocket, &commandLineSocket},
              std::pair{&ports.setupMenuSocket, &setupMenuSocket},
              std::pair{&ports.datagramSocket, &datagramSocket}, std::pair{&ports.signSocket, &signSocket}}) {
            if (!*port)
                *port = real;
        }
        if (!ports.probe)
            ports.probe = &probe;
        if (!ports.neighbours)
            ports.neighbours = &neighbours;
    }

    HostSocketControl commandLineSocket{SocketControl::Tcp};
    HostSocketControl setupMenuSocket{SocketControl::Tcp};
    HostSocketControl datagramSocket{SocketControl::Udp};
    HostSocketControl signSocket{SocketControl::Tcp};
    NetHelper helper;
    HelperProbe probe{helper};
    HelperNeighbourTable neighbours{helper};
};

#pragma once

#include "net/NeighbourTable.h"

#include <QSet>
#include <QString>

#include <optional>

class NetHelper;

// The neighbour table changed through the network helper: no shell and no
// external tool is ever involved. The helper makes the static entry on the
// interface that reaches the address directly, and removes only entries that
// it made itself.
//
// Anything that goes wrong (no route, an address behind a gateway or in use,
// a missing helper or capability, a kernel error) is written to standard
// error and otherwise goes unnoticed: the adaptor then stays silent and the
// probe cycle reports the failure.
class HelperNeighbourTable : public NeighbourTable {
public:
    explicit HelperNeighbourTable(NetHelper& helper)
        : m_helper(helper) {}

    // Each returns as soon as the helper has answered: at once for a removal,
    // after its 500 ms ARP check for a new entry. A removal of an address
    // this table never bound (the datagram's route ends with one too) asks
    // nothing: the helper would only refuse it, in a line that tells the
    // user nothing.
    void bind(quint32 address, const AddressRules::MacOctets& mac) override;
    void release(quint32 address) override;

private:
    // The helper's answer, if it gave one.
    std::optional<QString> ask(bool add, quint32 address, const AddressRules::MacOctets& mac);
    NetHelper& m_helper;
    QSet<quint32> m_bound; // addresses the helper made an entry for
};

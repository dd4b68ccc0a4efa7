#pragma once

#include "cli/BatchFile.h"

#include <QStringList>

// What `batch --check` asks of this host before a batch may start, sending
// nothing: that the network helper starts with everything a run needs, that
// each row's address is on a segment of this host, and that the report can be
// written. One problem a line; none when the batch would start.
[[nodiscard]] QStringList hostProblems(const BatchFile& file, const QString& report,
                                       const QString& helperProgram);

// What the network helper cannot do of what a run needs, each with how to
// fix it; empty when it can do it all. Starts the helper.
class NetHelper;
[[nodiscard]] QStringList helperProblems(NetHelper& helper);

// The interface whose subnet holds the address (host byte order), from the
// host's routing table; empty when it is reached only through a gateway or
// not at all.
[[nodiscard]] QString segmentOf(quint32 address);
// The address (dotted decimal) is one that segmentOf places on an interface.
[[nodiscard]] bool onSegment(const QString& address);

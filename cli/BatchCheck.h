#pragma once

#include "cli/BatchFile.h"

#include <QStringList>

// What `batch --check` asks of this host before a batch may start, sending
// nothing: that the network helper starts with everything a run needs, that
// each row's address is on a segment of this host, and that the report can be
// written. One problem a line; none when the batch would start. places, where
// given, gets where each is: a row's line, column and value, or the report's
// path (line 0).
[[nodiscard]] QStringList hostProblems(const BatchFile& file, const QString& report,
                                       const QString& helperProgram,
                                       std::vector<BatchFile::Place>* places = nullptr);

// What the network helper cannot do of what a run needs, each with how to
// fix it; empty when it can do it all. Starts the helper.
class NetHelper;
[[nodiscard]] QStringList helperProblems(NetHelper& helper);

// The address (dotted decimal) lies in a subnet of one of the host's own
// networks: the datagram and a neighbour entry can reach it there.
[[nodiscard]] bool onSegment(const QString& address);

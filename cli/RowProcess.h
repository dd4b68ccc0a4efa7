#pragma once

#include <QProcess>

// What a batch does to the netrika-cli process of each row that differs by
// host: that the row's run ends as closing the window ends it (logged out of
// the adaptor, the neighbour entry removed) whether the batch is interrupted
// or killed outright.
namespace RowProcess {

// Before the start: the row ends when the batch ends, however it ends.
void prepare(QProcess& process);
// Right after the start.
void adopt(QProcess& process);
// Asks the row to end as an interruption does; it is killed if it has not
// ended a while later.
void askToEnd(QProcess& process);

} // namespace RowProcess

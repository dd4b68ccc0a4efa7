// The batch file reader of netrika-cli: it reads a file a user wrote, and
// decides what is sent to many adaptors.
//
// Input: the file's bytes.
// Rules: the reader never crashes; every row it accepts passes the window's
// checks again, on a line of the file in the order of the file, with a MAC
// and an address no other row has; a file with problems names a line for
// each; reading the same file with CR LF line ends gives the same answer.

#include "cli/BatchRun.h"
#include "setup/SetupCommand.h"

#include <QSet>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const BatchFile file = BatchFile::parse(text);
    QSet<QString> macs;
    int line = 0;
    for (const BatchRow& row : file.rows) {
        RunState m;
        const SetupRequest& r = row.request;
        if (row.line <= line || SetupCommand::firstFailure(r.mac, r.ip, r.mask, r.gateway, m) != nullptr)
            __builtin_trap();
        line = row.line;
        macs.insert(m.mMacAddress);
    }
    if (!file.problems.isEmpty() && !file.problems.first().startsWith(QLatin1String("line ")) &&
        !file.problems.first().startsWith(QLatin1String("no ")))
        __builtin_trap();
    if (qsizetype(macs.size()) != qsizetype(file.rows.size()))
        __builtin_trap();
    if (text.contains(QLatin1Char('\r')))
        return 0;
    const BatchFile crlf = BatchFile::parse(QString(text).replace(QLatin1Char('\n'), QLatin1String("\r\n")));
    if (crlf.problems != file.problems || crlf.rows.size() != file.rows.size())
        __builtin_trap();
    return 0;
}

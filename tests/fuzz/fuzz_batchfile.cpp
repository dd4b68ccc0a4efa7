// The batch file reader of netrika-cli: it reads a file a user wrote, and
// decides what is sent to many adaptors.
//
// Input: the file's bytes.
// Rules: the reader never crashes; every row it accepts passes the window's
// checks again, on a line of the file in the order of the file, with a MAC
// and an address no other row has; a file with problems names a line for
// each (or the file's encoding); reading the same file with CR LF line ends
// gives the same answer; and a report of the rows, written as the batch
// writes it, reads back as the same rows with the same cells.

#include "cli/BatchFile.h"
#include "setup/SetupCommand.h"

#include <QSet>

#include <cstddef>
#include <cstdint>

namespace {

QString requestText(const SetupRequest& r) {
    QStringList all;
    for (const auto* part : {&r.ip, &r.mask, &r.gateway})
        all << QStringList(part->begin(), part->end()).join('.');
    return QStringList(r.mac.begin(), r.mac.end()).join(QString()).toLower() + ' ' + all.join(' ') +
           (r.signTest ? " sign" : "");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const BatchFile file = BatchFile::parse(bytes);
    QSet<QString> macs;
    int line = 0;
    for (const BatchRow& row : file.rows) {
        const SetupRequest& r = row.request;
        const auto checked = SetupCommand::check(r.mac, r.ip, r.mask, r.gateway);
        const AdaptorTarget* target = std::get_if<AdaptorTarget>(&checked);
        if (row.line <= line || !target || row.cells.size() != file.columns.size())
            __builtin_trap();
        line = row.line;
        macs.insert(target->mac);
    }
    for (const QString& p : file.problems)
        if (!p.startsWith(QLatin1String("line ")) && !p.startsWith(QLatin1String("no ")) &&
            !p.startsWith(QLatin1String("the file ")))
            __builtin_trap();
    if (qsizetype(macs.size()) != qsizetype(file.rows.size()))
        __builtin_trap();

    if (file.problems.isEmpty()) {
        // The report: the line, the input's columns, then the run's own.
        QStringList header{QStringLiteral("line")};
        QList<qsizetype> input;
        for (qsizetype i = 0; i < file.columns.size(); ++i)
            if (!BatchFile::kReportColumns.contains(file.columns[i].toLower())) {
                header << file.columns[i];
                input << i;
            }
        QByteArray report = csvRecord(header + QStringList{"result", "seconds", "status"});
        for (const BatchRow& row : file.rows) {
            QStringList fields{QString::number(row.line)};
            for (qsizetype i : input)
                fields << row.cells.value(i);
            report += csvRecord(fields + QStringList{"succeeded", "1.0", "Setup IP Address Successful."});
        }
        const BatchFile back = BatchFile::parse(report);
        if (!back.problems.isEmpty() || back.rows.size() != file.rows.size())
            __builtin_trap();
        for (std::size_t k = 0; k < file.rows.size(); ++k) {
            if (requestText(back.rows[k].request) != requestText(file.rows[k].request))
                __builtin_trap();
            for (qsizetype j = 0; j < input.size(); ++j)
                if (back.rows[k].cells.value(j + 1) != file.rows[k].cells.value(input[j]))
                    __builtin_trap();
        }
    }

    // Line ends changed byte by byte: for a file read as UTF-8 only.
    if (bytes.contains('\r') || bytes.contains('"') || !file.encoding.startsWith(QLatin1String("UTF-8")))
        return 0;
    const BatchFile crlf = BatchFile::parse(QByteArray(bytes).replace("\n", "\r\n"));
    if (crlf.problems != file.problems || crlf.rows.size() != file.rows.size())
        __builtin_trap();
    return 0;
}

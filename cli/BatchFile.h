#pragma once

#include "cli/SetupRequest.h"

#include <QByteArray>
#include <QStringList>

#include <vector>

// One row of a batch file: where it stands in the file, the values as
// written, and the setup run they ask for.
struct BatchRow {
    int line = 0;
    QString mac, ip; // as written
    SetupRequest request;
    // Rows of the broadcast family whose MACs end in the same two octets
    // cannot run side by side: the adaptors tell the datagrams apart by those
    // octets alone. Empty for the other family.
    QString datagramKey;
    // Every cell of the row as read, one for each of BatchFile::columns.
    QStringList cells;
};

// A batch file as spreadsheets and scripts write it, read and checked as a
// whole before anything is sent:
//
//     mac,ip,mask,gateway[,sign_test][,current_ip][,any other column...]
//     00-80-a3-61-63-dd,10.1.2.3,255.255.255.0,10.1.2.254,yes
//
// - CSV as RFC 4180 has it (quoted fields, separators and quotes within them,
//   CR LF, LF or CR line ends), read by libcsv;
// - UTF-8, with or without a byte-order mark, or UTF-16 with one; a file
//   with no mark that is not UTF-8 is read as Windows-1252, as older
//   spreadsheets save "CSV"; a workbook given by mistake is told as one;
// - the separator is found from the header line (comma, semicolon or tab),
//   unless given, or named by a first line "sep=;" as spreadsheets write it;
// - columns are found by name, in any case and order; other columns are kept
//   and carried into the report; sign_test takes yes/no, true/false, 1/0, y/n;
//   current_ip, where given, is the address an adaptor already has, at which
//   it is reached and given ip;
// - blank lines and lines starting with '#' are skipped;
// - with a site given, only the rows whose site column names it are read.
// Each row must pass the window's own checks, and no MAC, IP address or
// current address may appear twice. Every problem names its line, and its column and value where
// it has them.
struct BatchFile {
    struct Options {
        char delimiter = 0; // 0: found from the file
        // Only the rows whose site column holds this name, when not empty: one
        // file for many sites, each host running its own rows. The others are
        // left out before any check, as rows of another segment.
        QString site;
    };

    QStringList columns;      // the header's names as read, blank ones left out
    QStringList otherColumns; // those the batch does not know, carried into the report
    char delimiter = ',';
    QString encoding; // "UTF-8", "UTF-8 with a byte-order mark", "UTF-16LE", "Windows-1252" ...
    std::vector<BatchRow> rows;
    QStringList problems; // "line N: ...", in the order of the file
    // Where each problem is, one for each of problems: its line (0 for the
    // whole file), and the column and value where it has them.
    struct Place {
        int line = 0;
        QString column, value;
    };
    std::vector<Place> places;
    // Lines that begin with '#', read as comments and not as rows.
    std::vector<int> comments;
    void problem(int line, const QString& text, const QString& column = {}, const QString& value = {});
    // Where the column of that name (in any case) stands in columns and in
    // each row's cells; -1 where the file has none.
    [[nodiscard]] qsizetype column(QLatin1StringView name) const {
        for (qsizetype i = 0; i < columns.size(); ++i)
            if (columns[i].compare(name, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    }

    [[nodiscard]] static BatchFile parse(const QByteArray& bytes, Options options);
    [[nodiscard]] static BatchFile parse(const QByteArray& bytes) { return parse(bytes, Options{}); }
    [[nodiscard]] static BatchFile parse(const QString& text) { return parse(text.toUtf8()); }

    // The names a batch file may use; the report's own columns are read and
    // left out, so that a report can be run again.
    static const QStringList kKnownColumns;
    static const QStringList kReportColumns;
    // The encoding of a file with no byte-order mark that is not UTF-8.
    static const QString kWindows1252;
    // Bytes in Windows-1252, as Windows itself reads them: every byte is a
    // character, where it defines none the C1 control of that number.
    [[nodiscard]] static QString fromWindows1252(const QByteArray& bytes);
    // A value as problems quote it: long ones cut short, with their length.
    [[nodiscard]] static QString shown(const QString& value);
};

// One CSV record, every field quoted (RFC 4180), with a CR LF line end.
[[nodiscard]] QByteArray csvRecord(const QStringList& fields);

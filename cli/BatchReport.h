#pragma once

#include "cli/BatchFile.h"

#include <QFile>
#include <QMap>
#include <QSet>

// The batch's report, itself a batch file: the line of each row, every column
// of the input as read, then the row's result, the reason word, seconds and
// last status text. It is opened before the first row runs and written a row
// at a time as each ends, so that a batch killed outright keeps what had
// finished; rows that never ran come last as "not run". Once the batch has
// ended, it is put in the order of the file.
class BatchReport {
public:
    // Why path cannot take the report, found by opening it as the run will
    // (without emptying it, and removing it again if it was made); empty
    // when it can.
    [[nodiscard]] static QString unwritable(const QString& path);

    // Opens (empties) the file and writes the header; false with why.
    bool open(const QString& path, const BatchFile& file, QString& why);
    // One row as it ended; false when the write failed (why says so).
    bool write(const BatchRow& row, const QString& result, const QString& reason, double seconds,
               const QString& status);
    // Writes the rows again in the order of the file; false when that failed
    // (the report as written row by row stays).
    bool finish();
    [[nodiscard]] const QString& error() const { return m_error; }

    // The rows a report lists as done (succeeded, or found in place), by the
    // whole row ("0080a36163dd 10.1.2.3 255.255.255.0 10.1.2.254 no"), with
    // their report cells; every row it lists, done or not, by MAC and address
    // alone; the problems when it cannot be read.
    struct Succeeded {
        QHash<QString, QStringList> rows; // key -> result, seconds, status
        QSet<QString> tried;              // placeKey of every row it lists
        QStringList problems;
    };
    [[nodiscard]] static Succeeded succeeded(const QByteArray& report);
    [[nodiscard]] static QString key(const BatchRow& row);
    [[nodiscard]] static QString placeKey(const BatchRow& row);

private:
    QFile m_file;
    QString m_path; // the file opened on a descriptor keeps no name
    QStringList m_inputColumns;    // the input's columns, the report's own left out
    QList<qsizetype> m_inputIndex; // where each is in the file's columns
    QString m_error;
    QByteArray m_head;               // the byte-order mark, if any, and the header
    QMap<int, QByteArray> m_records; // each row's record by its line
};

#include "cli/BatchReport.h"

#include "cli/WritableFile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

namespace {
// What went wrong with a file, from the system's own word where the file's
// says nothing ("Unknown error").
QString failure(const QFileDevice& file, int error) {
    if (error != 0)
        return QString::fromLocal8Bit(std::strerror(error));
    return file.errorString();
}
} // namespace

QString BatchReport::unwritable(const QString& path) {
    const QFileInfo info(path);
    // /proc and /sys files say they may be written; a report is no such file.
    if (info.absoluteFilePath().startsWith(QLatin1String("/proc/")) ||
        info.absoluteFilePath().startsWith(QLatin1String("/sys/")))
        return QStringLiteral("not a place a report can be kept in");
    if (info.exists() && !info.isFile())
        return QStringLiteral("not a regular file");
    if (!info.exists() && !QFileInfo(info.absolutePath()).isDir())
        return QStringLiteral("its folder %1 does not exist").arg(info.absolutePath());
    // Opened as the run opens it, but without emptying it; a file made for
    // the trial is removed again.
    QFile file;
    const bool made = !info.exists();
    QString no;
    if (!openWritable(file, path,
                      made ? QIODevice::WriteOnly | QIODevice::NewOnly : QIODevice::WriteOnly | QIODevice::Append,
                      no))
        return QStringLiteral("it cannot be written: %1").arg(no);
    file.close();
    if (made)
        QFile::remove(path);
    return {};
}

bool BatchReport::open(const QString& path, const BatchFile& file, QString& why) {
    why = unwritable(path);
    if (!why.isEmpty())
        return false;
    m_inputColumns.clear();
    m_inputIndex.clear();
    m_records.clear();
    for (qsizetype i = 0; i < file.columns.size(); ++i)
        if (!BatchFile::kReportColumns.contains(file.columns[i].toLower())) {
            m_inputColumns << file.columns[i];
            m_inputIndex << i;
        }
    if (!openWritable(m_file, path, QIODevice::WriteOnly | QIODevice::Truncate, why))
        return false;
    m_path = path;
    QStringList header{QStringLiteral("line")};
    header << m_inputColumns << QStringLiteral("result") << QStringLiteral("reason")
           << QStringLiteral("seconds") << QStringLiteral("status");
    // A file read with a byte-order mark was written by a program that needs
    // one to read accents right: the report, read by the same, has one too.
    m_head = file.encoding == QLatin1String("UTF-8") ? QByteArray() : QByteArray("\xef\xbb\xbf");
    m_head += csvRecord(header);
    if (m_file.write(m_head) < 0 || !m_file.flush()) {
        why = m_file.errorString();
        return false;
    }
    return true;
}

bool BatchReport::write(const BatchRow& row, const QString& result, const QString& reason, double seconds,
                        const QString& status) {
    if (!m_file.isOpen())
        return false;
    // row.cells follow the file's columns, the report's own included.
    QStringList fields{QString::number(row.line)};
    for (qsizetype i : std::as_const(m_inputIndex))
        fields << row.cells.value(i);
    fields << result << reason << QString::number(seconds, 'f', 1) << status;
    const QByteArray record = csvRecord(fields);
    m_records.insert(row.line, record);
    errno = 0;
    if (m_file.write(record) != record.size() || !m_file.flush()) {
        m_error = failure(m_file, errno);
        return false;
    }
    return true;
}

bool BatchReport::finish() {
    if (!m_file.isOpen())
        return false;
    m_file.close();
    // The rows were written as each ended; the whole report is written again
    // in the order of the file, and replaces the old one only once every byte
    // of it is written: a full disk leaves the report as written row by row.
    QSaveFile sorted(m_path);
    errno = 0;
    if (!sorted.open(QIODevice::WriteOnly)) {
        m_error = failure(sorted, errno);
        return false;
    }
    bool written = sorted.write(m_head) == m_head.size();
    for (auto r = m_records.cbegin(); written && r != m_records.cend(); ++r)
        written = sorted.write(*r) == r->size();
    written = written && sorted.flush();
    if (!written) {
        m_error = QStringLiteral("the report could not be put in the order of the file (%1); it "
                                 "stays as written row by row")
                      .arg(failure(sorted, errno));
        sorted.cancelWriting();
        sorted.commit();
        return false;
    }
    if (!sorted.commit()) {
        m_error = failure(sorted, errno);
        return false;
    }
    return true;
}

QString BatchReport::placeKey(const BatchRow& row) {
    QStringList mac(row.request.mac.begin(), row.request.mac.end());
    QStringList ip(row.request.ip.begin(), row.request.ip.end());
    return mac.join(QString()).toLower() + QLatin1Char(' ') + ip.join(QLatin1Char('.'));
}

// Everything a run applies: an earlier run with other values did not do
// what this row asks.
QString BatchReport::key(const BatchRow& row) {
    const auto quad = [](const std::array<QString, 4>& o) { return QStringList(o.begin(), o.end()).join('.'); };
    return QStringList{placeKey(row), quad(row.request.mask), quad(row.request.gateway),
                       row.request.signTest ? QStringLiteral("yes") : QStringLiteral("no")}
        .join(QLatin1Char(' '));
}

BatchReport::Succeeded BatchReport::succeeded(const QByteArray& report) {
    Succeeded out;
    const BatchFile file = BatchFile::parse(report);
    out.problems = file.problems;
    const auto column = [&file](const char* name) {
        for (qsizetype i = 0; i < file.columns.size(); ++i)
            if (file.columns[i].compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return i;
        return qsizetype(-1);
    };
    const qsizetype result = column("result");
    if (result < 0) {
        out.problems << QStringLiteral("it has no column result: not a report of netrika-cli batch");
        return out;
    }
    const qsizetype seconds = column("seconds");
    const qsizetype status = column("status");
    for (const BatchRow& row : file.rows) {
        const QString said = row.cells.value(result);
        if (said != QLatin1String("not run"))
            out.tried.insert(placeKey(row));
        if (said != QLatin1String("succeeded") && said != QLatin1String("in place"))
            continue;
        out.rows.insert(key(row), {said, seconds < 0 ? QString() : row.cells.value(seconds),
                                   status < 0 ? QString() : row.cells.value(status)});
    }
    return out;
}

#include "cli/BatchFile.h"

#include "address/AddressRules.h"
#include "setup/SetupCommand.h"

#include <QHash>
#include <QStringDecoder>

#include <csv.h>

#include <memory>

const QStringList BatchFile::kKnownColumns{"mac", "ip", "mask", "gateway", "sign_test", "current_ip"};
const QString BatchFile::kWindows1252 = QStringLiteral("Windows-1252");

QString BatchFile::shown(const QString& value) {
    constexpr qsizetype kShown = 80;
    if (value.size() <= kShown)
        return value;
    return value.left(kShown) + QStringLiteral("\u2026 (%1 characters)").arg(value.size());
}
const QStringList BatchFile::kReportColumns{"line", "result", "reason", "seconds", "status"};

namespace {

struct Record {
    int line = 0;
    QStringList cells;
};

} // namespace

// Latin-1 but for 0x80 to 0x9F. Written out here since Qt reads other
// encodings than the Unicode ones and Latin-1 only through ICU, which a
// Windows build of Qt may not have.
QString BatchFile::fromWindows1252(const QByteArray& bytes) {
    static constexpr char16_t kFrom0x80[32] = {
        0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008d, 0x017d, 0x008f, 0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
        0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes.at(i));
        text[i] = b >= 0x80 && b < 0xa0 ? QChar(kFrom0x80[b - 0x80]) : QChar(b);
    }
    return text;
}

namespace {

// The text of the file, whatever its encoding; a problem naming the
// encoding where it cannot be read.
QString decode(const QByteArray& bytes, QString& encoding, QString& problem) {
    const QString& kWindows1252 = BatchFile::kWindows1252;
    const auto starts = [&bytes](const char* mark, int n) { return bytes.startsWith(QByteArray(mark, n)); };
    QStringConverter::Encoding e = QStringConverter::Utf8;
    qsizetype skip = 0;
    encoding = QStringLiteral("UTF-8");
    if (starts("\xff\xfe\x00\x00", 4) || starts("\x00\x00\xfe\xff", 4)) {
        problem = QStringLiteral("the file is UTF-32, which is not read: save it as \"CSV UTF-8\"");
        return {};
    }
    if (starts("\xef\xbb\xbf", 3)) {
        skip = 3;
        encoding = QStringLiteral("UTF-8 with a byte-order mark");
    } else if (starts("\xff\xfe", 2) || starts("\xfe\xff", 2)) {
        const bool little = bytes.at(0) == '\xff';
        e = little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
        skip = 2;
        encoding = little ? QStringLiteral("UTF-16LE") : QStringLiteral("UTF-16BE");
    } else if (bytes.startsWith("PK\x03\x04")) {
        // A zip container: the workbook formats of today's spreadsheets.
        problem =
            QStringLiteral("the file is a spreadsheet workbook (.xlsx or .ods), not CSV: save the sheet as "
                           "\"CSV UTF-8\"");
        return {};
    } else if (bytes.startsWith("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1")) {
        problem = QStringLiteral("the file is an old spreadsheet workbook (.xls), not CSV: save the sheet as "
                                 "\"CSV UTF-8\"");
        return {};
    } else if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0) {
        // No CSV file holds one: the line tells where a damaged file is
        // damaged; a file in UTF-16 without a mark has one in every other byte.
        problem = QStringLiteral("line %1: a NUL byte, which no CSV file holds: the file is damaged, or not "
                                 "text, or UTF-16 without a byte-order mark; save it as \"CSV UTF-8\"")
                      .arg(bytes.first(nul).count('\n') + 1);
        return {};
    }
    QStringDecoder decoder(e, QStringConverter::Flag::Stateless);
    QString text = decoder(bytes.sliced(skip));
    if (decoder.hasError()) {
        // No mark and not UTF-8: what older spreadsheets save as "CSV" on an
        // office computer, one byte a character.
        if (skip != 0) {
            problem = QStringLiteral("the file is not %1 text: save it as \"CSV UTF-8\"").arg(encoding);
            return {};
        }
        text = BatchFile::fromWindows1252(bytes);
        encoding = kWindows1252;
    }
    if (text.contains(QChar(0))) {
        problem = QStringLiteral("the file holds NUL characters, which no batch file has");
        return {};
    }
    return text;
}

// The lines of the text, each without its end (CR LF, LF or CR).
QStringList physicalLines(const QString& text) {
    QStringList lines;
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        lines << text.mid(from, i - from);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        from = i + 1;
    }
    if (from < text.size())
        lines << text.mid(from);
    return lines;
}

// The separator a header line uses: the most frequent of comma, semicolon
// and tab outside quotes, a comma when none is there.
char separatorOf(const QString& header) {
    int counts[3] = {0, 0, 0};
    bool quoted = false;
    for (QChar c : header) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted)
            counts[0] += c == QLatin1Char(','), counts[1] += c == QLatin1Char(';'),
                counts[2] += c == QLatin1Char('\t');
    }
    const char separators[3] = {',', ';', '\t'};
    int best = 0;
    for (int i = 1; i < 3; ++i)
        best = counts[i] > counts[best] ? i : best;
    return separators[best];
}

bool skipped(const QString& line) {
    const QString t = line.trimmed();
    return t.isEmpty() || t.startsWith(QLatin1Char('#'));
}

int spaceOnly(unsigned char c) {
    return c == ' ';
}

// libcsv reads the records; a record that goes on over several lines (a
// quoted field with a line end in it) keeps the number of its first line.
class Reader {
public:
    explicit Reader(char separator) {
        csv_init(&m_parser, 0);
        csv_set_delim(&m_parser, static_cast<unsigned char>(separator));
        if (separator == '\t')
            csv_set_space_func(&m_parser, spaceOnly);
    }
    ~Reader() { csv_free(&m_parser); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // False when the parser ran out of memory.
    bool feed(int line, const QString& text) {
        if (!inRecord() && skipped(text)) {
            if (!text.trimmed().isEmpty())
                m_comments.push_back(line);
            return true;
        }
        if (!inRecord())
            m_line = line;
        const QByteArray bytes = text.toUtf8() + '\n';
        return csv_parse(&m_parser, bytes.constData(), std::size_t(bytes.size()), field, record, this) ==
               std::size_t(bytes.size());
    }
    // The lines read as comments.
    [[nodiscard]] const std::vector<int>& comments() const { return m_comments; }
    std::vector<Record> finish() {
        csv_fini(&m_parser, field, record, this);
        return std::move(m_records);
    }

private:
    // Inside a record when a field has begun or a quoted one is still open.
    [[nodiscard]] bool inRecord() const { return m_parser.pstate != 0 || !m_cells.isEmpty(); }
    static void field(void* data, std::size_t size, void* self) {
        auto* r = static_cast<Reader*>(self);
        r->m_cells << QString::fromUtf8(static_cast<const char*>(data), qsizetype(size)).trimmed();
    }
    static void record(int, void* self) {
        auto* r = static_cast<Reader*>(self);
        const bool blank =
            std::all_of(r->m_cells.begin(), r->m_cells.end(), [](const QString& c) { return c.isEmpty(); });
        if (!blank)
            r->m_records.push_back({r->m_line, r->m_cells});
        r->m_cells.clear();
    }

    csv_parser m_parser{};
    int m_line = 0;
    QStringList m_cells;
    std::vector<Record> m_records;
    std::vector<int> m_comments;
};

// One spelling of an address the window's checks have passed, so that
// "10.1.2.3" and "10.1.2.03" count as the same.
QString canonical(const std::array<QString, 4>& octets) {
    QStringList out;
    for (const QString& o : octets)
        out << QString::number(qRound(AddressRules::numberValue(o).value_or(-1)));
    return out.join(QLatin1Char('.'));
}

QString separatorName(char c) {
    return c == '\t' ? QStringLiteral("tab") : QStringLiteral("'%1'").arg(QLatin1Char(c));
}

std::optional<bool> yesNo(const QString& text) {
    static const QStringList yes{"yes", "y", "true", "1"};
    static const QStringList no{"no", "n", "false", "0", ""};
    if (yes.contains(text, Qt::CaseInsensitive))
        return true;
    if (no.contains(text, Qt::CaseInsensitive))
        return false;
    return std::nullopt;
}

} // namespace

BatchFile BatchFile::parse(const QByteArray& bytes, Options options) {
    BatchFile file;
    QString problem;
    const QString text = decode(bytes, file.encoding, problem);
    if (!problem.isEmpty()) {
        file.problem(0, problem);
        return file;
    }
    QStringList lines = physicalLines(text);
    int first = 0; // lines before the header that are not CSV
    if (!lines.isEmpty() && lines[0].size() == 5 &&
        lines[0].startsWith(QLatin1String("sep="), Qt::CaseInsensitive)) {
        file.delimiter = lines[0].at(4).toLatin1();
        first = 1;
    } else {
        for (const QString& line : lines)
            if (!skipped(line)) {
                file.delimiter = separatorOf(line);
                break;
            }
    }
    if (options.delimiter != 0)
        file.delimiter = options.delimiter;

    Reader reader(file.delimiter);
    for (int i = first; i < lines.size(); ++i)
        if (!reader.feed(i + 1, lines[i])) {
            file.problem(i + 1, QStringLiteral("line %1: the file cannot be read: out of memory").arg(i + 1));
            return file;
        }
    std::vector<Record> records = reader.finish();
    file.comments = reader.comments();
    if (records.empty()) {
        file.problem(0, QStringLiteral("no header line mac,ip,mask,gateway"));
        return file;
    }

    // The header: every column by its name.
    const Record& header = records.front();
    QHash<QString, int> at; // name (lower case) -> cell index
    QList<int> unnamed;
    for (int c = 0; c < header.cells.size(); ++c) {
        const QString name = header.cells[c].toLower();
        if (name.isEmpty()) {
            unnamed << c;
            continue;
        }
        if (at.contains(name)) {
            file.problem(header.line, QStringLiteral("line %1: the column %2 is named twice")
                                          .arg(header.line)
                                          .arg(header.cells[c]));
            return file;
        }
        at.insert(name, c);
        file.columns << header.cells[c];
        if (!kKnownColumns.contains(name) && !kReportColumns.contains(name) &&
            !(name == QLatin1String("site") && !options.site.isEmpty()))
            file.otherColumns << header.cells[c];
    }
    QStringList missing;
    for (const char* name : {"mac", "ip", "mask", "gateway"})
        if (!at.contains(QLatin1String(name)))
            missing << QLatin1String(name);
    if (missing.isEmpty() && !options.site.isEmpty() && !at.contains(QStringLiteral("site"))) {
        file.problem(header.line, QStringLiteral("line %1: --site %2 picks rows by their column site, and this "
                                                 "file has none: run it without --site, or add the column")
                                      .arg(header.line)
                                      .arg(options.site));
        return file;
    }
    if (!missing.isEmpty()) {
        file.problem(header.line,
                     QStringLiteral("line %1: the header %2, read with the separator %3, has no column %4; "
                                    "a batch file needs mac, ip, mask and gateway, in any order")
                         .arg(header.line)
                         .arg(lines.value(header.line - 1), separatorName(file.delimiter),
                              missing.join(QStringLiteral(", "))));
        return file;
    }

    // One adaptor is at one site: its MAC on another site's row is a mistake
    // that running one site at a time would never show.
    const bool sited = at.contains(QStringLiteral("site"));
    QHash<QString, std::pair<int, QString>> macSites; // MAC -> first line and site
    if (sited)
        for (std::size_t r = 1; r < records.size(); ++r) {
            QString mac = records[r].cells.value(at[QStringLiteral("mac")]).toLower();
            mac.remove(QLatin1Char('-')).remove(QLatin1Char(':'));
            if (!macSites.contains(mac))
                macSites.insert(mac, {records[r].line, records[r].cells.value(at[QStringLiteral("site")])});
        }
    // Without --site, a sheet of many sites repeats addresses from site to site.
    const QString siteHint = sited && options.site.isEmpty()
                                 ? QStringLiteral(" (the file has a column site: give --site NAME to run one "
                                                  "site's rows)")
                                 : QString();
    QHash<QString, int> macLines, ipLines, currentLines;
    int ofSite = 0;
    for (std::size_t r = 1; r < records.size(); ++r) {
        const Record& record = records[r];
        const auto cell = [&](const QString& name) {
            return at.contains(name) ? record.cells.value(at[name]) : QString();
        };
        if (!options.site.isEmpty() && cell(QStringLiteral("site")) != options.site)
            continue; // another site's row
        ++ofSite;
        const auto problemAt = [&](const QString& column, const QString& value, const QString& why) {
            file.problem(record.line,
                         QStringLiteral("line %1: %2 \"%3\": %4").arg(record.line).arg(column, shown(value), why),
                         column, shown(value));
        };
        if (record.cells.size() > header.cells.size()) {
            const QStringList beyond = record.cells.mid(header.cells.size());
            if (!std::all_of(beyond.begin(), beyond.end(), [](const QString& c) { return c.isEmpty(); })) {
                file.problem(record.line, QStringLiteral("line %1: %2 values where the header has %3 columns")
                                              .arg(record.line)
                                              .arg(record.cells.size())
                                              .arg(header.cells.size()));
                continue;
            }
        }
        if (const auto c = std::find_if(unnamed.begin(), unnamed.end(),
                                        [&](int i) { return !record.cells.value(i).isEmpty(); });
            c != unnamed.end()) {
            file.problem(record.line,
                         QStringLiteral("line %1: column %2 has the value \"%3\" but no name in the header")
                             .arg(record.line)
                             .arg(*c + 1)
                             .arg(shown(record.cells.value(*c))),
                         QString::number(*c + 1), shown(record.cells.value(*c)));
            continue;
        }
        QString absent;
        for (const char* name : {"mac", "ip", "mask", "gateway"})
            if (absent.isEmpty() && cell(QLatin1String(name)).isEmpty())
                absent = QLatin1String(name);
        if (!absent.isEmpty()) {
            problemAt(absent, QString(), QStringLiteral("missing"));
            continue;
        }
        const auto signTest = yesNo(cell(QStringLiteral("sign_test")));
        if (!signTest) {
            problemAt(QStringLiteral("sign_test"), cell(QStringLiteral("sign_test")),
                      QStringLiteral("yes or no (also true/false, 1/0, y/n)"));
            continue;
        }
        QString why;
        QString column;
        auto request = SetupRequest::from(cell(QStringLiteral("mac")), cell(QStringLiteral("ip")),
                                          cell(QStringLiteral("mask")), cell(QStringLiteral("gateway")),
                                          *signTest, &why, &column);
        if (!request) {
            // "--ip 10.1.2.300: why" as the command line says it; the line names the column.
            problemAt(column, cell(column),
                      why.mid(QStringLiteral("--%1 %2: ").arg(column, cell(column)).size()));
            continue;
        }
        // An adaptor that already has an address, reached there.
        const QString current = cell(QStringLiteral("current_ip"));
        if (!current.isEmpty() && !request->setCurrentIp(current, &why, &column)) {
            problemAt(column, current, why.mid(QStringLiteral("--current-ip %1: ").arg(current).size()));
            continue;
        }
        const auto checked = SetupCommand::check(request->mac, request->ip, request->mask, request->gateway);
        if (const auto* failure = std::get_if<SetupCommand::Refusal>(&checked)) {
            problemAt(failure->field, cell(failure->field),
                      failure->detail.isEmpty() ? failure->status : failure->detail);
            continue;
        }
        const AdaptorTarget& target = std::get<AdaptorTarget>(checked);
        const qint16 family = target.family();
        if (family == AddressRules::kUnknownFamily) {
            problemAt(QStringLiteral("mac"), cell(QStringLiteral("mac")), SetupCommand::kFamilyMessage);
            continue;
        }
        const QString ip = canonical(request->ip);
        if (macLines.contains(target.mac)) {
            problemAt(QStringLiteral("mac"), cell(QStringLiteral("mac")),
                      QStringLiteral("on line %1 already").arg(macLines[target.mac]) + siteHint);
            continue;
        }
        if (const auto other = macSites.constFind(target.mac);
            !options.site.isEmpty() && other != macSites.cend() && other->second != options.site) {
            problemAt(QStringLiteral("mac"), cell(QStringLiteral("mac")),
                      QStringLiteral("also on line %1, for the site %2: one adaptor is at one site")
                          .arg(other->first)
                          .arg(other->second));
            continue;
        }
        if (ipLines.contains(ip)) {
            problemAt(QStringLiteral("ip"), cell(QStringLiteral("ip")),
                      QStringLiteral("on line %1 already").arg(ipLines[ip]) + siteHint);
            continue;
        }
        if (!request->currentIp.isEmpty() && currentLines.contains(request->currentIp)) {
            problemAt(QStringLiteral("current_ip"), current,
                      QStringLiteral("on line %1 already").arg(currentLines[request->currentIp]));
            continue;
        }
        macLines.insert(target.mac, record.line);
        ipLines.insert(ip, record.line);
        if (!request->currentIp.isEmpty())
            currentLines.insert(request->currentIp, record.line);
        QStringList cells;
        for (const QString& name : std::as_const(file.columns))
            cells << record.cells.value(at[name.toLower()]);
        file.rows.push_back({record.line, cell(QStringLiteral("mac")), cell(QStringLiteral("ip")), *request,
                             // Reached at its address, an adaptor is sent no datagram.
                             family == AddressRules::kBroadcastFamily && request->currentIp.isEmpty()
                                 ? target.mac.right(4)
                                 : QString(),
                             cells});
    }
    if (file.rows.empty() && file.problems.isEmpty())
        file.problem(0, ofSite == 0 && !options.site.isEmpty()
                            ? QStringLiteral("no row names the site %1 in its column site").arg(options.site)
                            : QStringLiteral("no rows"));
    return file;
}

void BatchFile::problem(int line, const QString& text, const QString& column, const QString& value) {
    problems << text;
    places.push_back({line, column, value});
}

QByteArray csvRecord(const QStringList& fields) {
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QByteArray field = fields[i].toUtf8();
        // Quoted, with each quote doubled: at most twice as long, and the two quotes.
        QByteArray quoted(field.size() * 2 + 2, '\0');
        quoted.resize(qsizetype(csv_write(quoted.data(), std::size_t(quoted.size()), field.constData(),
                                          std::size_t(field.size()))));
        out += (i > 0 ? "," : "") + quoted;
    }
    return out + "\r\n";
}

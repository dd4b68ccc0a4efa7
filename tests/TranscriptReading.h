#pragma once

// Reading back a run's transcript (netrika-cli -v, --log, --log-dir): which
// bytes went to and came from each of the adaptor's ports.

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <map>

// The bytes a transcript line stands for: its escapes undone.
inline QByteArray unescaped(const QString& text) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= text.size()) {
            out += char(c.unicode());
            continue;
        }
        const QChar e = text.at(++i);
        if (e == QLatin1Char('r'))
            out += '\r';
        else if (e == QLatin1Char('n'))
            out += '\n';
        else if (e == QLatin1Char('t'))
            out += '\t';
        else if (e == QLatin1Char('x'))
            out += char(text.mid(i + 1, 2).toInt(nullptr, 16)), i += 2;
        else
            out += char(e.unicode());
    }
    return out;
}

// What each port carried each way, as one transcript tells it: "> 23" for
// the bytes sent to the adaptor's port 23, "< 23" for those it sent back.
inline std::map<QString, QByteArray> carried(const QString& transcript, const QRegularExpression& line) {
    std::map<QString, QByteArray> bytes;
    for (const QString& l : transcript.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const auto m = line.match(l);
        if (m.hasMatch())
            bytes[m.captured(QStringLiteral("dir")) + QLatin1Char(' ') +
                  m.captured(QStringLiteral("port"))] += unescaped(m.captured(QStringLiteral("text")));
    }
    return bytes;
}

#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

// One event as one line of JSON (`--json`), with its time since the start.
[[nodiscard]] inline QString jsonLine(const char* event, double time, QJsonObject fields) {
    fields.insert(QStringLiteral("event"), QLatin1String(event));
    fields.insert(QStringLiteral("time"), qRound(time * 10) / 10.0);
    return QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact));
}

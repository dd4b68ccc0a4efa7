#include "Recorder.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

bool Recorder::prepare(QString* error) {
    if (m_directory.isEmpty() || QDir().mkpath(m_directory))
        return true;
    *error = QStringLiteral("cannot create the recording directory %1").arg(m_directory);
    return false;
}

void Recorder::writeSummary(const QJsonObject& summary) {
    if (m_directory.isEmpty())
        return;
    QSaveFile file(QDir(m_directory).filePath(QStringLiteral("summary.json")));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(summary).toJson(QJsonDocument::Indented));
        file.commit();
    }
}

void Recorder::appendReceived(int number, quint16 port, const QByteArray& bytes) {
    append(QStringLiteral("conn-%1-%2.bin").arg(number).arg(port), bytes);
}

void Recorder::appendSent(int number, quint16 port, const QByteArray& bytes) {
    append(QStringLiteral("conn-%1-%2-sent.bin").arg(number).arg(port), bytes);
}

void Recorder::append(const QString& name, const QByteArray& bytes) {
    if (m_directory.isEmpty())
        return;
    QFile file(QDir(m_directory).filePath(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(bytes);
}

#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The adaptor's recording: per connection the bytes received
// (conn-<n>-<port>.bin) and sent (conn-<n>-<port>-sent.bin), and summary.json,
// replaced whole after every change so that a reader never sees half of it.
// Without a directory nothing is written.
class Recorder {
public:
    explicit Recorder(QString directory)
        : m_directory(std::move(directory)) {}

    bool prepare(QString* error);
    void writeSummary(const QJsonObject& summary);
    void appendReceived(int number, quint16 port, const QByteArray& bytes);
    void appendSent(int number, quint16 port, const QByteArray& bytes);

private:
    void append(const QString& name, const QByteArray& bytes);

    QString m_directory;
};

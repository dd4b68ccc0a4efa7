#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

// Faults the simulated adaptor can be told to show, so that tests and demos
// can see how the tool copes with an adaptor that is not well.
class Misbehaviour {
public:
    // Reads the --misbehave values; false with error set for an unknown one.
    bool parse(const QStringList& modes, QString* error);

    // Never takes on an assigned IP address.
    [[nodiscard]] bool silent() const { return m_silent; }
    // Every question waits this long before it leaves (0: no wait).
    [[nodiscard]] int promptDelayMs() const { return m_slow ? 4000 : 0; }
    // A question containing one of these texts is never sent.
    [[nodiscard]] bool suppresses(const QByteArray& question) const;
    // The dialogue connection is closed after this many lines (0: never).
    [[nodiscard]] int closeAfterLines() const { return m_closeMid ? 3 : 0; }
    // Bytes of garbage sent after the first question (0: none).
    [[nodiscard]] qint64 floodBytes() const { return m_floodBytes; }
    [[nodiscard]] bool refuses(quint16 port) const { return m_refused.contains(port); }
    [[nodiscard]] bool rejectsEveryPassword() const { return m_wrongPassword; }
    [[nodiscard]] const QStringList& modes() const { return m_modes; }

private:
    QStringList m_modes;
    bool m_silent = false;
    bool m_slow = false;
    bool m_closeMid = false;
    bool m_wrongPassword = false;
    qint64 m_floodBytes = 0;
    QList<QByteArray> m_noPrompt;
    QSet<quint16> m_refused;
};

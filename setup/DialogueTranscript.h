#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// What went over the adaptor's connections during one run, both ways, with
// the time of each piece: the record a technician reads out in a support call.
// Each send is one entry, each chunk as it was fetched another. Bytes are kept
// as they were (one byte per character); only the text made of them shows
// control characters. The oldest entries go once the bytes pass the limit, as
// the window's own transcript keeps only its latest characters.
class DialogueTranscript {
public:
    enum class Direction { Sent, Received };
    struct Entry {
        qint64 ms = 0; // since the run started
        Direction direction = Direction::Sent;
        int port = 0; // the adaptor's port: 30718, 9999, 23 or 3001
        QByteArray bytes;
        bool operator==(const Entry&) const = default;
    };
    static constexpr qsizetype kLimit = 64 * 1024;

    using Clock = std::function<qint64()>;
    using Observer = std::function<void(const Entry&)>;

    // Empties the record and starts its clock; clock gives milliseconds.
    void start(Clock clock);
    void add(Direction direction, int port, const QByteArray& bytes);
    void observe(Observer observer) { m_observers.push_back(std::move(observer)); }

    [[nodiscard]] const QList<Entry>& entries() const { return m_entries; }
    // Every entry as one line of text.
    [[nodiscard]] QString text() const;
    // "  12.345  23 > hello\n": seconds, port, '>' sent or '<' received, bytes made visible.
    [[nodiscard]] static QString line(const Entry& entry);
    // Printable characters as they are; \r, \n, \t, \\ and \xNN for every other byte.
    [[nodiscard]] static QString visible(const QByteArray& bytes);

private:
    Clock m_clock;
    qint64 m_startMs = 0;
    QList<Entry> m_entries;
    qsizetype m_bytes = 0;
    std::vector<Observer> m_observers;
};

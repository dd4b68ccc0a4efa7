#include "cli/BatchSchedule.h"

#include <QStringList>

std::vector<int> startable(const std::vector<BatchRow>& rows, const std::vector<int>& waiting,
                           const std::vector<int>& running, int jobs) {
    QStringList busy;
    for (int r : running)
        busy << rows[r].datagramKey;
    std::vector<int> out;
    for (int r : waiting) {
        if (int(running.size() + out.size()) >= jobs)
            break;
        const QString& key = rows[r].datagramKey;
        if (!key.isEmpty() && busy.contains(key))
            continue;
        busy << key;
        out.push_back(r);
    }
    return out;
}

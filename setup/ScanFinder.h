#pragma once

// The real finder: the network helper's ARP sweep of each range, then the
// setup ports of each adaptor on a subnet of this host. The helper's
// conversation and the port checks block, so they run on a thread of the
// finder's own; what they find is handed to the caller's thread through its
// event loop, so a window never stops answering while a search runs.

#include "net/NetHelper.h"
#include "setup/AdaptorFinder.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <thread>

class ScanFinder : public AdaptorFinder {
public:
    explicit ScanFinder(QString helperProgram = NetHelper::defaultProgram());
    // Cancels a search under way and waits for its thread; nothing is called afterwards.
    ~ScanFinder() override;
    ScanFinder(const ScanFinder&) = delete;
    ScanFinder& operator=(const ScanFinder&) = delete;

    void start(const ScanRequest& request, Found found, Done done) override;
    void cancel() override;

private:
    // On the finder's thread: the whole search, reported through deliver.
    void search(const ScanRequest& request, const std::shared_ptr<std::atomic<bool>>& cancelled);
    // Runs a call on the thread that made the finder, from its event loop.
    void deliver(std::function<void()> call);

    QString m_program;
    std::unique_ptr<QObject> m_context = std::make_unique<QObject>();
    std::thread m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancelled;
    Found m_found;
    Done m_done;
    bool m_running = false;
};

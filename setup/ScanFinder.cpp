#include "setup/ScanFinder.h"

#include "address/AddressRules.h"
#include "setup/AdaptorScan.h"

#include <utility>

ScanFinder::ScanFinder(QString helperProgram)
    : m_program(std::move(helperProgram)) {}

ScanFinder::~ScanFinder() {
    if (m_cancelled)
        *m_cancelled = true;
    if (m_worker.joinable())
        m_worker.join();
    // What the thread posted and has not run goes with the context.
    m_context.reset();
}

void ScanFinder::deliver(std::function<void()> call) {
    QMetaObject::invokeMethod(m_context.get(), std::move(call), Qt::QueuedConnection);
}

void ScanFinder::start(const ScanRequest& request, Found found, Done done) {
    if (m_worker.joinable())
        m_worker.join(); // an ended search's thread, which has nothing more to do
    m_found = std::move(found);
    m_done = std::move(done);
    m_running = true;
    m_cancelled = std::make_shared<std::atomic<bool>>(false);
    m_worker = std::thread([this, request, cancelled = m_cancelled] { search(request, cancelled); });
}

void ScanFinder::cancel() {
    if (m_running && m_cancelled)
        *m_cancelled = true;
}

void ScanFinder::search(const ScanRequest& request, const std::shared_ptr<std::atomic<bool>>& cancelled) {
    ScanEnd end;
    const auto finish = [&] {
        end.cancelled = *cancelled;
        deliver([this, end] {
            m_running = false;
            if (m_done)
                m_done(end);
        });
    };
    const QList<HostInterface> interfaces = AdaptorScan::hostInterfaces();
    const AdaptorScan::Plan plan = AdaptorScan::plan(request, interfaces);
    if (!plan.error.isEmpty()) {
        end.error = plan.error;
        return finish();
    }
    NetHelper helper(m_program);
    if (!helper.start()) {
        end.error = QStringLiteral("the network helper %1 cannot be started").arg(m_program);
        return finish();
    }
    if (!helper.can(QStringLiteral("sweep"))) {
        end.error = QStringLiteral("the network helper cannot sweep: %1")
                        .arg(helper.lacking(QStringLiteral("sweep")));
        return finish();
    }
    const auto stop = [&cancelled] { return bool(*cancelled); };
    for (const ScanRange& range : plan.ranges) {
        if (*cancelled)
            return finish();
        QList<FoundAdaptor> heard;
        const auto answer = helper.sweep(
            range.interfaceName, range.network, range.prefixLength,
            [&](const QString& address, const QString& mac) {
                FoundAdaptor a;
                a.mac = QString(mac).remove(QLatin1Char(':')).toLower();
                a.family = AddressRules::macFamily(a.mac);
                a.address = address;
                a.interfaceName = range.interfaceName;
                if (a.family != 0 || request.all) {
                    heard.append(a);
                    deliver([this, a, cancelled] {
                        if (!*cancelled && m_heard)
                            m_heard(a);
                    });
                }
            },
            stop);
        if (*cancelled)
            return finish();
        if (!answer) {
            end.error = QStringLiteral("the network helper did not end its sweep of %1").arg(range.text());
            return finish();
        }
        if (!answer->startsWith(QLatin1String("ok"))) {
            end.error = QStringLiteral("the network helper did not sweep %1: %2").arg(range.text(), *answer);
            return finish();
        }
        end.swept << range.text();
        // Ports are tried only where this host reaches the adaptor directly.
        QList<quint32> reachable;
        for (FoundAdaptor& a : heard) {
            a.onHostSubnet = AdaptorScan::onSubnetOf(AddressRules::readDotted(a.address).value_or(0),
                                                     a.interfaceName, interfaces);
            if (a.onHostSubnet)
                reachable << AddressRules::readDotted(a.address).value_or(0);
        }
        const QList<QList<int>> open = AdaptorScan::openPorts(
            reachable, QList<int>(std::begin(AdaptorScan::kPorts), std::end(AdaptorScan::kPorts)));
        qsizetype k = 0;
        for (FoundAdaptor& a : heard) {
            if (a.onHostSubnet)
                a.openPorts = open.value(k++);
            deliver([this, a, cancelled] {
                if (!*cancelled && m_found)
                    m_found(a);
            });
        }
    }
    finish();
}

#include "net/HelperNeighbourTable.h"

#include "net/NetHelper.h"
#include "net/NetLog.h"

void HelperNeighbourTable::bind(quint32 address, const AddressRules::MacOctets& mac) {
    if (const auto answer = ask(true, address, mac); answer && answer->startsWith(QLatin1String("ok")))
        m_bound.insert(address);
}

void HelperNeighbourTable::release(quint32 address) {
    if (!m_bound.remove(address)) {
        qCInfo(lcNet).noquote() << QString::fromStdString(helper::formatRequest(
                                       {helper::Request::NeighDel, address, {}}))
                                << "not asked: no entry was made for it";
        return;
    }
    ask(false, address, {});
}

std::optional<QString> HelperNeighbourTable::ask(bool add, quint32 address, const AddressRules::MacOctets& mac) {
    const helper::Request request{add ? helper::Request::NeighAdd : helper::Request::NeighDel, address, mac};
    const auto answer = m_helper.ask(request);
    const QString action = QString::fromStdString(helper::formatRequest(request));
    if (!answer)
        qCWarning(lcNet).noquote() << action << "not carried out: the network helper is not available";
    else if (answer->contains(QLatin1String("CAP_NET_ADMIN")))
        qCWarning(lcNet).noquote() << action << answer->mid(7)
                                   << QStringLiteral("; ") + m_helper.capabilityAdvice();
    else if (answer->startsWith(QLatin1String("failed")))
        qCWarning(lcNet).noquote() << action << answer->mid(7);
    else // refusals are written out by the helper itself
        qCInfo(lcNet).noquote() << action << *answer;
    return answer;
}

#include "net/service/WindowsNeighbourHost.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <netioapi.h>
#include <windows.h>
// After the IP Helper's types, which it uses.
#include <icmpapi.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace service {
namespace {

// How long an echo waits for its reply, as on Linux.
constexpr DWORD kProbeWaitMs = 500;

std::string hex(const unsigned char* p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

std::string utf8(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string out(std::size_t(n - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

MIB_IPNET_ROW2 rowFor(int ifIndex, std::uint32_t address) {
    MIB_IPNET_ROW2 row{};
    row.InterfaceIndex = NET_IFINDEX(ifIndex);
    row.Address.si_family = AF_INET;
    row.Address.Ipv4.sin_family = AF_INET;
    row.Address.Ipv4.sin_addr.s_addr = htonl(address);
    return row;
}

} // namespace

std::string systemErrorText(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n && text ? utf8(text) : std::string();
    if (text)
        ::LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "error " + std::to_string(error) : out + " (error " + std::to_string(error) + ")";
}

WindowsNeighbourHost::WindowsNeighbourHost(bool tableInMemory) {
    if (tableInMemory)
        m_memory = std::make_unique<MemoryNeighbourHost>();
}

std::string WindowsNeighbourHost::abilities() const {
    return m_memory ? " echo neigh" : " echo arp neigh";
}

// Directly reached: inside the on-link prefix of an address of an adapter
// that is up, and neither that address nor the prefix's network or broadcast
// address.
int WindowsNeighbourHost::directInterface(std::uint32_t address, std::string& why) {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    for (int tries = 0; tries < 4 && status == ERROR_BUFFER_OVERFLOW; ++tries) {
        buffer.resize(size);
        status = ::GetAdaptersAddresses(
            AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
            reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (status != NO_ERROR) {
        why = "not reached by any route of this host (its adapters cannot be listed: " +
              systemErrorText(status) + ")";
        return 0;
    }
    for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
        if (a->OperStatus != IfOperStatusUp)
            continue;
        for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
            if (!u->Address.lpSockaddr || u->Address.lpSockaddr->sa_family != AF_INET)
                continue;
            const std::uint32_t own =
                ntohl(reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr)->sin_addr.s_addr);
            const int length = int(u->OnLinkPrefixLength);
            if (own == address) {
                why = "an address of this host itself";
                return 0;
            }
            if (length <= 0 || length > 30)
                continue;
            const std::uint32_t mask = ~std::uint32_t(0) << (32 - length);
            if ((own & mask) != (address & mask))
                continue;
            if (a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) {
                why = "a loopback address";
                return 0;
            }
            if ((address & ~mask) == 0 || (address & ~mask) == ~mask) {
                why = "the network or broadcast address of a subnet of this host";
                return 0;
            }
            return int(a->IfIndex);
        }
    }
    why = "reached only through a gateway, not on a segment of this host";
    return 0;
}

std::string WindowsNeighbourHost::interfaceName(int ifIndex) {
    NET_LUID luid{};
    wchar_t alias[NDIS_IF_MAX_STRING_SIZE + 1] = {};
    if (::ConvertInterfaceIndexToLuid(NET_IFINDEX(ifIndex), &luid) == NO_ERROR &&
        ::ConvertInterfaceLuidToAlias(&luid, alias, NDIS_IF_MAX_STRING_SIZE + 1) == NO_ERROR) {
        std::string name = utf8(alias);
        // One word on the protocol's line.
        for (char& c : name)
            if (c == ' ' || c == '\n' || c == '\r')
                c = '_';
        if (!name.empty())
            return name;
    }
    return std::to_string(ifIndex);
}

HostEntry WindowsNeighbourHost::lookUp(int ifIndex, std::uint32_t address) {
    if (m_memory)
        return m_memory->lookUp(ifIndex, address);
    MIB_IPNET_ROW2 row = rowFor(ifIndex, address);
    HostEntry e;
    const DWORD status = ::GetIpNetEntry2(&row);
    if (status == ERROR_NOT_FOUND)
        return e;
    if (status != NO_ERROR) {
        e.error = systemErrorText(status);
        return e;
    }
    e.present = true;
    e.permanent = row.State == NlnsPermanent;
    e.unresolved = row.State == NlnsUnreachable || row.State == NlnsIncomplete || row.State == NlnsStale ||
                   row.PhysicalAddressLength != 6;
    if (row.PhysicalAddressLength == 6)
        std::copy(row.PhysicalAddress, row.PhysicalAddress + 6, e.mac.begin());
    return e;
}

Change WindowsNeighbourHost::addEntry(int ifIndex, std::uint32_t address, const Mac& mac, bool replace,
                                      std::string& why) {
    if (m_memory)
        return m_memory->addEntry(ifIndex, address, mac, replace, why);
    MIB_IPNET_ROW2 row = rowFor(ifIndex, address);
    row.PhysicalAddressLength = 6;
    std::copy(mac.begin(), mac.end(), row.PhysicalAddress);
    row.State = NlnsPermanent;
    const DWORD status = replace ? ::SetIpNetEntry2(&row) : ::CreateIpNetEntry2(&row);
    if (status == NO_ERROR)
        return Change::Done;
    if (status == ERROR_OBJECT_ALREADY_EXISTS && !replace)
        return Change::Exists;
    if (status == ERROR_NOT_FOUND && replace)
        return Change::Absent;
    why = systemErrorText(status);
    return Change::Failed;
}

Change WindowsNeighbourHost::deleteEntry(int ifIndex, std::uint32_t address, std::string& why) {
    if (m_memory)
        return m_memory->deleteEntry(ifIndex, address, why);
    MIB_IPNET_ROW2 row = rowFor(ifIndex, address);
    const DWORD status = ::DeleteIpNetEntry2(&row);
    if (status == NO_ERROR)
        return Change::Done;
    if (status == ERROR_NOT_FOUND)
        return Change::Absent;
    why = systemErrorText(status);
    return Change::Failed;
}

// One echo request carrying "Echo This" through the host's own ICMP service:
// no raw socket, and no administrator's rights.
std::string WindowsNeighbourHost::echo(std::uint32_t address, std::uint16_t) {
    static const char kData[] = "Echo This";
    const HANDLE icmp = ::IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE)
        return "failed no ICMP handle: " + systemErrorText(::GetLastError());
    std::vector<unsigned char> reply(sizeof(ICMP_ECHO_REPLY) + sizeof kData + 8 + 64);
    IPAddr to = htonl(address);
    const auto start = std::chrono::steady_clock::now();
    const DWORD count =
        ::IcmpSendEcho2(icmp, nullptr, nullptr, nullptr, to, const_cast<char*>(kData), WORD(sizeof kData - 1),
                        nullptr, reply.data(), DWORD(reply.size()), kProbeWaitMs);
    const DWORD error = count == 0 ? ::GetLastError() : NO_ERROR;
    ::IcmpCloseHandle(icmp);
    if (count == 0)
        return error == IP_REQ_TIMED_OUT ? "ok silent" : "failed not sent: " + systemErrorText(error);
    const auto* r = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply.data());
    const std::uint32_t from = ntohl(r->Address);
    switch (r->Status) {
    case IP_SUCCESS: {
        if (from != address)
            return "ok silent";
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        const auto* data = static_cast<const unsigned char*>(r->Data);
        const std::size_t size = std::min<std::size_t>(r->DataSize, reply.size() - sizeof(ICMP_ECHO_REPLY));
        return "ok answered " + std::to_string(ms) + " " + (data ? hex(data, size) : std::string());
    }
    case IP_DEST_NET_UNREACHABLE:
    case IP_DEST_HOST_UNREACHABLE:
    case IP_DEST_PROT_UNREACHABLE:
    case IP_DEST_PORT_UNREACHABLE:
        return "ok unreachable " + helper::addressText(from);
    case IP_REQ_TIMED_OUT:
        return "ok silent";
    default:
        return "failed echo status " + std::to_string(r->Status);
    }
}

// SendARP asks the link who has the address, from this host's address on
// it. Unlike the Linux helper's request it answers from the neighbour table
// when the table already resolves the address.
std::string WindowsNeighbourHost::arpProbe(int ifIndex, std::uint32_t address) {
    if (m_memory)
        return m_memory->arpProbe(ifIndex, address);
    ULONG mac[2] = {};
    ULONG length = 6;
    const DWORD status = ::SendARP(htonl(address), 0, mac, &length);
    if (status == NO_ERROR && length == 6) {
        Mac found{};
        std::memcpy(found.data(), mac, 6);
        return "ok answered " + helper::macText(found);
    }
    if (status == ERROR_BAD_NET_NAME || status == ERROR_GEN_FAILURE || status == ERROR_NOT_FOUND)
        return "ok silent";
    return "failed ARP probe: " + systemErrorText(status);
}

} // namespace service

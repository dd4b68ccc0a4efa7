#include "net/helper/HelperProtocol.h"

#include <cstdio>

namespace helper {
namespace {

[[nodiscard]] std::optional<std::uint32_t> parseAddress(std::string_view text) {
    std::uint32_t address = 0;
    int octets = 0;
    std::size_t at = 0;
    while (octets < 4) {
        std::size_t digits = 0;
        std::uint32_t value = 0;
        // "010" would be read as ten by some and as eight by others: one spelling only.
        if (at + 1 < text.size() && text[at] == '0' && text[at + 1] >= '0' && text[at + 1] <= '9')
            return std::nullopt;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + std::uint32_t(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        address = address << 8 | value;
        if (++octets < 4) {
            if (at >= text.size() || text[at] != '.')
                return std::nullopt;
            ++at;
        }
    }
    if (at != text.size())
        return std::nullopt;
    return address;
}

[[nodiscard]] int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1; // lower case only, as written by formatRequest
}

[[nodiscard]] std::optional<Mac> parseMac(std::string_view text) {
    if (text.size() != 17)
        return std::nullopt;
    Mac mac{};
    for (std::size_t pair = 0; pair < 6; ++pair) {
        const int high = hexValue(text[pair * 3]);
        const int low = hexValue(text[pair * 3 + 1]);
        if (high < 0 || low < 0 || (pair < 5 && text[pair * 3 + 2] != ':'))
            return std::nullopt;
        mac[pair] = std::uint8_t(high << 4 | low);
    }
    return mac;
}

struct Verb {
    std::string_view word;
    Request::Kind kind;
    bool withMac;
};
constexpr Verb kVerbs[] = {{"echo", Request::Echo, false},
                           {"arp-probe", Request::ArpProbe, false},
                           {"neigh-add", Request::NeighAdd, true},
                           {"neigh-del", Request::NeighDel, false},
                           {"arp-sweep", Request::ArpSweep, false}};

[[nodiscard]] bool interfaceNameAllowed(std::string_view name) {
    if (name.empty() || name.size() > 15 || name == "." || name == "..")
        return false;
    for (char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                             c == '_' || c == '.' || c == '-';
        if (!allowed)
            return false;
    }
    return true;
}

// "IF A.B.C.D/LEN", the range given by its network address.
std::optional<Request> parseSweep(std::string_view rest, std::string* why) {
    const auto refuse = [why](const char* reason) -> std::optional<Request> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    const std::size_t space = rest.find(' ');
    if (space == std::string_view::npos)
        return refuse("expected an interface and a range A.B.C.D/LEN");
    const std::string_view name = rest.substr(0, space);
    if (!interfaceNameAllowed(name))
        return refuse("the interface name is not 1 to 15 of A-Z a-z 0-9 _ . -");
    const std::string_view range = rest.substr(space + 1);
    const std::size_t slash = range.find('/');
    if (slash == std::string_view::npos)
        return refuse("the range is not A.B.C.D/LEN");
    const auto address = parseAddress(range.substr(0, slash));
    if (!address)
        return refuse("the address is not four decimal octets 0-255");
    const std::string_view digits = range.substr(slash + 1);
    if (digits.size() != 2 || digits[0] < '1' || digits[0] > '9' || digits[1] < '0' || digits[1] > '9')
        return refuse("the prefix length is not two decimal digits");
    const int length = (digits[0] - '0') * 10 + (digits[1] - '0');
    if (length < kSweepShortestPrefix || length > kSweepLongestPrefix)
        return refuse("the prefix length is not 20 to 30: a sweep asks 4094 addresses at most");
    const std::uint32_t hostBits = (std::uint32_t(1) << (32 - length)) - 1;
    if ((*address & hostBits) != 0)
        return refuse("the address is not the network address of the range");
    Request request;
    request.kind = Request::ArpSweep;
    request.address = *address;
    request.interfaceName = std::string(name);
    request.prefixLength = length;
    return request;
}

} // namespace

std::optional<Request> parseRequest(std::string_view line, std::string* why) {
    const auto refuse = [why](const char* reason) -> std::optional<Request> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (line.size() > kMaxLine)
        return refuse("request too long");
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return refuse("expected a request word and an address");
    const std::string_view word = line.substr(0, space);
    const Verb* verb = nullptr;
    for (const Verb& v : kVerbs)
        if (v.word == word)
            verb = &v;
    if (!verb)
        return refuse("unknown request");
    std::string_view rest = line.substr(space + 1);
    if (verb->kind == Request::ArpSweep)
        return parseSweep(rest, why);
    std::string_view macPart;
    if (verb->withMac) {
        const std::size_t second = rest.find(' ');
        if (second == std::string_view::npos)
            return refuse("expected an address and a MAC");
        macPart = rest.substr(second + 1);
        rest = rest.substr(0, second);
    }
    Request request;
    request.kind = verb->kind;
    const auto address = parseAddress(rest);
    if (!address)
        return refuse("the address is not four decimal octets 0-255");
    request.address = *address;
    if (verb->withMac) {
        const auto mac = parseMac(macPart);
        if (!mac)
            return refuse("the MAC is not six hexadecimal pairs joined by ':'");
        request.mac = *mac;
    }
    return request;
}

std::string formatRequest(const Request& request) {
    std::string line(kVerbs[request.kind].word);
    line += ' ';
    if (request.kind == Request::ArpSweep)
        return line + request.interfaceName + ' ' + addressText(request.address) + '/' +
               std::to_string(request.prefixLength);
    line += addressText(request.address);
    if (request.kind == Request::NeighAdd) {
        line += ' ';
        line += macText(request.mac);
    }
    return line;
}

std::string addressText(std::uint32_t a) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xff, (a >> 8) & 0xff, a & 0xff);
    return text;
}

std::string macText(const Mac& m) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return text;
}

std::string_view refusedAddress(std::uint32_t a) {
    if (a == 0xffffffffu)
        return "the broadcast address";
    if (a >> 24 == 0)
        return "an unspecified address (0.0.0.0/8)";
    if (a >> 24 == 127)
        return "a loopback address";
    if (a >> 28 == 0xe)
        return "a multicast address";
    if (a >> 28 == 0xf)
        return "a reserved address (240.0.0.0/4)";
    return {};
}

std::string_view refusedMac(const Mac& m) {
    if (m[0] & 1)
        return "a multicast or broadcast MAC";
    if (m == Mac{})
        return "the all-zeros MAC";
    return {};
}

} // namespace helper

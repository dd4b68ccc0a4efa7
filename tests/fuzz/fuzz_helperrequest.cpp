// The network helper's request reader: the one piece of the privileged
// program that reads what a front end, or anyone in its group, sends.
//
// Input: the bytes of one request line, without its line feed.
// Rules: the reader never crashes or reads out of bounds; a line it accepts
// is exactly the line the formatter writes for that request (so no second
// spelling, sign, padding or separator gets through); a refusal says why;
// nothing longer than the longest valid request is accepted.

#include "net/helper/HelperProtocol.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    std::string why;
    const auto request = helper::parseRequest(line, &why);
    if (!request) {
        if (why.empty())
            __builtin_trap();
        return 0;
    }
    if (size > helper::kMaxLine || helper::formatRequest(*request) != line)
        __builtin_trap();
    const auto again = helper::parseRequest(helper::formatRequest(*request));
    if (!again || !(*again == *request))
        __builtin_trap();
    // The refusal rules take every address and MAC.
    (void)helper::refusedAddress(request->address);
    (void)helper::refusedMac(request->mac);
    return 0;
}

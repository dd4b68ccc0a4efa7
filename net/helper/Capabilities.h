#pragma once

// The helper's two capabilities: CAP_NET_RAW for the probes, CAP_NET_ADMIN for
// neighbour entries. Both stay permitted and are put in force only for the
// request that needs one.

#include <string>

namespace helper {

// Keeps CAP_NET_RAW and CAP_NET_ADMIN as permitted, where given, and nothing
// in force; everything else, ambient and inheritable included, goes. No new
// privileges can be gained and the process cannot be dumped or traced by its
// user. False, with why set, when any of that did not take: the helper must
// not go on then.
[[nodiscard]] bool dropAllButNetwork(std::string& why);

[[nodiscard]] bool permitted(int capability);

// One capability in force for the life of this object.
class Raised {
public:
    explicit Raised(int capability);
    ~Raised();
    Raised(const Raised&) = delete;
    Raised& operator=(const Raised&) = delete;
    [[nodiscard]] bool ok() const { return m_ok; }

private:
    bool change(bool on);
    int m_capability;
    bool m_ok = false;
};

} // namespace helper

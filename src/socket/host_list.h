// A list of server names, one or several separated by ";", tried in order until one
// gives a session: the hosts after the first are there for when it is down.
#pragma once

#include <string>
#include <string_view>

namespace tolmail::socket {

/// Hands out the names of a host list in order. A ";" ends a name unless it is the
/// list's very first character (such a list is one name); empty names between two ";"
/// are handed out (they fail to connect like any bad name); a ";" at the end leaves
/// no further name. An empty list is one empty name.
class HostList {
public:
    explicit HostList(std::string_view list) : list_(list) {}

    /// The next name into `name`; false when the list is used up.
    bool next(std::string& name);

private:
    std::string list_;
    size_t cursor_ = 0;
    bool done_ = false;
};

} // namespace tolmail::socket

// The host list rule both Connect loops share: which names are tried, in which order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "socket/host_list.h"

namespace tolmail::socket {
namespace {

std::vector<std::string> NamesOf(const std::string& list)
{
    std::vector<std::string> names;
    HostList hosts(list);
    for (std::string name; hosts.next(name) && names.size() < 16;)
        names.push_back(name);
    return names;
}

} // namespace

TEST(HostList, NamesInOrderAsTheSeparatorRuleGivesThem)
{
    const struct {
        const char* list;
        std::vector<std::string> names;
    } cases[] = {
        {"", {""}},
        {"mx", {"mx"}},
        {"a;b;c", {"a", "b", "c"}},
        {"a;b;", {"a", "b"}},             // a separator at the end adds no name
        {"a;;b", {"a", "", "b"}},         // an empty name is tried (and fails) like any other
        {";a;b", {";a;b"}},               // a leading separator makes the whole list one name
        {"a;", {"a"}},
        {"10.0.0.1;127.0.0.1", {"10.0.0.1", "127.0.0.1"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NamesOf(c.list), c.names) << '"' << c.list << '"';
}

} // namespace tolmail::socket

// Splitting of the SMTP server list into connection candidates.
#include "smtp/host_list.h"

namespace tolmail::smtp {

std::vector<std::string> SplitHostList(const std::string& list)
{
    std::vector<std::string> candidates;
    size_t pos = 0;
    for (;;) {
        const size_t semi = list.find(';', pos);
        if (semi == std::string::npos || semi == 0) {
            candidates.push_back(list.substr(pos));
            return candidates;
        }
        candidates.push_back(list.substr(pos, semi - pos));
        pos = semi + 1;
        if (pos >= list.size())
            return candidates;
    }
}

} // namespace tolmail::smtp

// The host list iterator (see host_list.h).
#include "socket/host_list.h"

namespace tolmail::socket {

bool HostList::next(std::string& name)
{
    if (done_)
        return false;
    const size_t separator = list_.find(';', cursor_);
    if (separator == std::string::npos || separator == 0) {
        name = list_.substr(cursor_);
        done_ = true;
        return true;
    }
    name = list_.substr(cursor_, separator - cursor_);
    cursor_ = separator + 1;
    done_ = cursor_ >= list_.size();
    return true;
}

} // namespace tolmail::socket

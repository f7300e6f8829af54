// Writing a whole buffer to a file descriptor, through short writes and signals.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace tolmail::cli {

/// Writes all of `data`; 0, or the errno of the write that failed (EIO when one wrote nothing).
inline int WriteAll(int fd, const char* data, size_t size)
{
    for (size_t done = 0; done < size;) {
        const ssize_t put = ::write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return put < 0 ? errno : EIO;
        done += static_cast<size_t>(put);
    }
    return 0;
}

} // namespace tolmail::cli

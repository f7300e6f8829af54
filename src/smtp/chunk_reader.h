// Reads a file in fixed-size chunks through one large page-aligned buffer, so that a
// chunk costs a copy at most and the file is read in few system calls.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "platform/files.h"

namespace tolmail::smtp {

class ChunkReader {
public:
    explicit ChunkReader(platform::File& file);
    ~ChunkReader();
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    /// The next `size` bytes (fewer at the end of the file, empty there). The view holds
    /// until the next call. On a read failure it is empty and `result` is set.
    std::string_view next(size_t size, platform::FileResult& result);

private:
    bool refill(platform::FileResult& result);

    platform::File& file_;
    struct Free {
        void operator()(char* p) const;
    };
    std::unique_ptr<char[], Free> buffer_;
    std::unique_ptr<char[]> spanning_;  // a chunk that straddles two buffer loads
    size_t spanningSize_ = 0;
    size_t begin_ = 0, end_ = 0;
    bool eof_ = false;
};

} // namespace tolmail::smtp

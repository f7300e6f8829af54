// Chunked file reading for attachment streaming.
#include "smtp/chunk_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tolmail::smtp {

namespace {

// 256 KiB: few read calls, and small enough to stay far below the memory bound of a send.
constexpr size_t kBufferSize = 256 * 1024;
constexpr size_t kPage = 4096;

} // namespace

void ChunkReader::Free::operator()(char* p) const
{
    ::operator delete[](p, std::align_val_t{kPage});
}

ChunkReader::ChunkReader(platform::File& file)
    : file_(file), buffer_(static_cast<char*>(::operator new[](kBufferSize, std::align_val_t{kPage})))
{
    if (!buffer_)
        throw std::bad_alloc();
}

ChunkReader::~ChunkReader() = default;

bool ChunkReader::refill(platform::FileResult& result)
{
    begin_ = end_ = 0;
    while (end_ < kBufferSize) {
        const long n = file_.read(buffer_.get() + end_, kBufferSize - end_, result);
        if (n < 0)
            return false;
        if (n == 0) {
            eof_ = true;
            break;
        }
        end_ += static_cast<size_t>(n);
    }
    return true;
}

std::string_view ChunkReader::next(size_t size, platform::FileResult& result)
{
    result = file_result::Ok;
    if (begin_ == end_ && !eof_ && !refill(result))
        return {};
    const size_t available = end_ - begin_;
    if (available >= size || eof_) {
        const size_t take = std::min(size, available);
        const char* p = buffer_.get() + begin_;
        begin_ += take;
        return {p, take};
    }
    // The chunk straddles the end of the buffer: gather it into a buffer of its own.
    if (spanningSize_ < size) {
        spanning_ = std::make_unique<char[]>(size);
        spanningSize_ = size;
    }
    size_t have = available;
    std::memcpy(spanning_.get(), buffer_.get() + begin_, have);
    begin_ = end_;
    while (have < size && !eof_) {
        if (!refill(result))
            return {};
        const size_t take = std::min(size - have, end_ - begin_);
        std::memcpy(spanning_.get() + have, buffer_.get() + begin_, take);
        begin_ += take;
        have += take;
    }
    return {spanning_.get(), have};
}

} // namespace tolmail::smtp

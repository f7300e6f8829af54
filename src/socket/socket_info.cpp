// The per-socket receive buffer and its spill file.
#include "socket/socket_info.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/local_time.h"
#include "platform/message_loop.h"

namespace tolmail::socket {
namespace {

// Names tried after a clash with an existing file before text stays in memory.
constexpr int kSpillNameTries = 64;

} // namespace

SocketInfo::~SocketInfo()
{
    if (spilling_)
        endSpilling();
}

void SocketInfo::BufStr(std::string_view text, bool mayDispatch)
{
    buffer_.append(text);
    afterAppend(mayDispatch);
}

void SocketInfo::afterAppend(bool mayDispatch)
{
    if (buffer_.size() <= kSpillThreshold)
        return;
    if (mayDispatch)
        platform::dispatchPendingExcept(intSocket_);
    // A take inside that dispatch may have emptied the buffer already.
    if (buffer_.size() <= kSpillThreshold)
        return;
    if (!spilling_ && !startSpilling())
        return;  // no spill file: the text stays in memory rather than being lost
    if (spillWriteFailed_)
        return;
    platform::FileResult result = file_result::Ok;
    if (!spillWriter_.write(buffer_.data(), buffer_.size(), result)) {
        // The file may now hold part of this text; it is never read past what was
        // confirmed, and everything from here on stays in memory, after the file's text.
        spillWriteFailed_ = true;
        return;
    }
    spilledBytes_ += buffer_.size();
    buffer_.clear();
}

std::string SocketInfo::BufStr()
{
    if (spilling_) {
        std::string text = readSpill(kSpillReadChunk);
        // A file that ran out exactly at a chunk's end gives nothing here: the text
        // that came after it is in memory, and a waiting reader must not miss it.
        if (!text.empty() || spilling_)
            return text;
    }
    std::string all = std::move(buffer_);
    buffer_.clear();
    return all;
}

std::string SocketInfo::TakeChars(size_t count)
{
    if (spilling_) {
        std::string text = readSpill(count);
        if (!text.empty() || spilling_)
            return text;
    }
    size_t n = std::min(count, buffer_.size());
    std::string taken = buffer_.substr(0, n);
    buffer_.erase(0, n);
    return taken;
}

std::string SocketInfo::GetBufStr(int32_t DataLen, bool mayWait)
{
    std::string result;
    if (DataLen <= 0)
        return result;
    size_t wanted = static_cast<size_t>(DataLen);
    double start = platform::SecondsNow();
    for (;;) {
        platform::dispatchPending();
        size_t before = result.size();
        result += TakeChars(wanted - result.size());
        if (result.size() >= wanted)
            return result;
        // The spill file's text came; what arrived after it may already be in memory.
        if (result.size() > before)
            continue;
        if (closed_ || !mayWait)
            return result;
        double left = start + kCountedTakeSeconds - platform::SecondsNow();
        if (left < 0)
            return result;
        platform::waitForActivity(left);
    }
}

std::string SocketInfo::readSpill(size_t count)
{
    uint64_t available = spilledBytes_ - readBackBytes_;
    size_t want = static_cast<size_t>(std::min<uint64_t>(count, available));
    std::string text(want, '\0');
    long got = 0;
    platform::FileResult result = file_result::Ok;
    while (static_cast<size_t>(got) < want) {
        long n = spillReader_.read(text.data() + got, want - static_cast<size_t>(got), result);
        if (n <= 0)
            break;
        got += n;
    }
    text.resize(static_cast<size_t>(got));
    readBackBytes_ += static_cast<uint64_t>(got);
    if (text.size() < count)
        endSpilling();
    return text;
}

bool SocketInfo::startSpilling()
{
    std::string directory = platform::TempDirectory();
    int64_t tick = platform::TickCount();
    for (int attempt = 0; attempt < kSpillNameTries; ++attempt) {
        std::string name = directory + std::to_string(static_cast<int32_t>(tick + attempt)) + ".TMA";
        platform::FileResult result = file_result::Ok;
        platform::File writer = platform::File::CreateNew(name, result);
        if (result == file_result::Exists)
            continue;  // somebody else's file, or a planted link: pick another name
        if (!writer.isOpen())
            return false;
        platform::File reader = platform::File::OpenRead(name, result);
        if (!reader.isOpen()) {
            writer.close();
            platform::RemoveFile(name);
            return false;
        }
        spillWriter_ = std::move(writer);
        spillReader_ = std::move(reader);
        spillFileName_ = name;
        spilling_ = true;
        spillWriteFailed_ = false;
        spilledBytes_ = 0;
        readBackBytes_ = 0;
        return true;
    }
    return false;
}

void SocketInfo::endSpilling()
{
    spilling_ = false;
    spillWriter_.close();
    spillReader_.close();
    platform::RemoveFile(spillFileName_);  // a failed delete leaves the file behind
}

} // namespace tolmail::socket

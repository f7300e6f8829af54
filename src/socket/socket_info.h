// SocketInfo: one socket's receive buffer, which moves older text to a spill file
// while it is large and reads it back in arrival order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "tolmail/ref.h"

namespace tolmail {
class TolvanSocket;
}

namespace tolmail::socket {

/// Received text kept in memory before it moves to the spill file.
inline constexpr size_t kSpillThreshold = 32000;
/// Characters read back from the spill file per take.
inline constexpr size_t kSpillReadChunk = 16384;
/// The fixed limit of a counted take, whatever the component's time-out.
inline constexpr double kCountedTakeSeconds = 15.0;

class SocketInfo {
public:
    SocketInfo() = default;
    ~SocketInfo();
    SocketInfo(const SocketInfo&) = delete;
    SocketInfo& operator=(const SocketInfo&) = delete;

    int32_t intSocket() const noexcept { return intSocket_; }
    void intSocket(int32_t value) noexcept { intSocket_ = value; }
    /// The owning component; not counted, so the registry never keeps it alive.
    const WeakRef<TolvanSocket>& AddrProc() const noexcept { return owner_; }
    void AddrProc(WeakRef<TolvanSocket> value) { owner_ = std::move(value); }

    /// Appends received text. Past the threshold, lets pending messages be dispatched
    /// once (unless `mayDispatch` is false; this socket's own notifications wait) and
    /// moves the buffer to the spill file.
    void BufStr(std::string_view text, bool mayDispatch = true);
    /// Receives straight into the buffer's end: `receive(destination, capacity)` returns
    /// the count received or a negative number; then as BufStr put. Saves copying each
    /// read through a scratch buffer.
    template <class Receive>
    int32_t ReceiveAppend(int32_t capacity, Receive&& receive, bool mayDispatch = true)
    {
        size_t before = buffer_.size();
        buffer_.resize(before + static_cast<size_t>(capacity));
        int32_t count = receive(buffer_.data() + before, capacity);
        buffer_.resize(before + static_cast<size_t>(count > 0 ? count : 0));
        if (count > 0)
            afterAppend(mayDispatch);
        return count;
    }

    /// Takes everything in memory, or the next chunk of the spill file while spilling.
    std::string BufStr();
    /// Takes DataLen characters, waiting up to 15 seconds for them to arrive; what is
    /// already buffered is taken without waiting, and the wait ends once the socket
    /// closed or when `mayWait` is false.
    std::string GetBufStr(int32_t DataLen, bool mayWait = true);

    /// Marks the socket closed: nothing more will arrive, so no take waits for more.
    void markClosed() noexcept { closed_ = true; }
    bool closed() const noexcept { return closed_; }

    bool Spilling() const noexcept { return spilling_; }
    const std::string& SpillFileName() const noexcept { return spillFileName_; }
    size_t bufferedInMemory() const noexcept { return buffer_.size(); }

private:
    void afterAppend(bool mayDispatch);
    std::string TakeChars(size_t count);
    std::string readSpill(size_t count);
    bool startSpilling();
    void endSpilling();

    int32_t intSocket_ = 0;
    WeakRef<TolvanSocket> owner_;
    std::string buffer_;
    std::string spillFileName_;
    bool spilling_ = false;
    bool closed_ = false;
    bool spillWriteFailed_ = false;
    platform::File spillWriter_;
    platform::File spillReader_;
    uint64_t spilledBytes_ = 0;   // confirmed written to the file
    uint64_t readBackBytes_ = 0;  // taken back out of it
};

} // namespace tolmail::socket

// The writer of the DATA section (RFC 5321 4.5.2): every piece between DATA and the
// end-of-data line goes through it, so that no piece can end the message early.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "smtp/dot_stuffing.h"
#include "tolmail/socket_codes.h"

namespace tolmail {
class TolvanSocket;
}

namespace tolmail::smtp {

class DataWriter {
public:
    explicit DataWriter(TolvanSocket& socket) : socket_(socket) {}

    /// Text from the host or composed here: line ends become CR LF, dots are stuffed.
    /// Sent at once, after any gathered data. Returns the socket's senddta result (0
    /// when sent).
    int32_t sendText(std::string_view text);
    /// Encoder output or raw bytes: dots are stuffed, nothing else changes. Pieces are
    /// gathered up to kBatchSize before they go to the socket, since each socket send
    /// costs several system calls whatever its size; the bytes on the wire are the same.
    /// Returns 0, or the failed result of a send that this piece triggered.
    int32_t sendData(std::string_view data);
    /// Sends the gathered data; 0 when sent (or nothing was gathered).
    int32_t flush();
    /// The first failed senddta result, 0 while every piece went out. After a failure
    /// nothing more is sent: the server must never see a message with a gap in it.
    int32_t failure() const noexcept { return failure_; }

    static constexpr size_t kBatchSize = 128 * 1024;

private:
    int32_t send(std::string&& piece);

    TolvanSocket& socket_;
    DotStuffer stuffer_;
    std::string scratch_;
    std::string batch_;
    int32_t failure_ = socket_result::Ok;
};

} // namespace tolmail::smtp

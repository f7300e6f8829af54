// The writer of the DATA section (RFC 5321 4.5.2): every piece between DATA and the
// end-of-data line goes through it, so that no piece can end the message early.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "smtp/dot_stuffing.h"

namespace tolmail {
class TolvanSocket;
}

namespace tolmail::smtp {

class DataWriter {
public:
    explicit DataWriter(TolvanSocket& socket) : socket_(socket) {}

    /// Text from the host or composed here: line ends become CR LF, dots are stuffed.
    /// Returns the socket's senddta result (0 when sent).
    int32_t sendText(std::string_view text);
    /// Encoder output or raw bytes: dots are stuffed, nothing else changes.
    int32_t sendData(std::string_view data);

private:
    int32_t send(std::string_view piece);

    TolvanSocket& socket_;
    DotStuffer stuffer_;
    std::string scratch_;
};

} // namespace tolmail::smtp

// Whether bytes can travel as a "binary" part through SMTP DATA (RFC 5321 2.3.8,
// 4.5.2, 4.5.3.1.6; RFC 2046 5.1.1): only CR LF lines of at most 998 octets survive,
// and no line may look like the boundary of the message.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace tolmail::smtp {

/// Fed piece by piece (any cuts), it says whether everything so far could be sent
/// as it is: a lone CR or LF would be read as a line end by some receivers and not by
/// others (and a "." after it could not be stuffed in a way both agree on); a longer
/// line may be cut or refused on the way; a boundary inside would end the part.
class BinaryLineCheck {
public:
    /// `boundary` without the leading "--"; any occurrence of it counts.
    explicit BinaryLineCheck(std::string boundary);

    /// False once the data seen so far cannot be sent as it is (and from then on).
    bool feed(std::string_view piece);
    /// The data ended here; false when it cannot be sent as it is (a CR at the very end).
    bool finish() const { return ok_ && !pendingCr_; }

private:
    std::string boundary_;
    std::boyer_moore_horspool_searcher<std::string::const_iterator> searcher_;
    std::string tail_;  // the last boundary length - 1 bytes, for a match across pieces
    size_t lineLength_ = 0;
    bool pendingCr_ = false;
    bool ok_ = true;
};

/// Reads the file once through the check. `sendable` tells the outcome; the result
/// is file_result::Ok or the failure that stopped the reading.
platform::FileResult CheckBinaryFile(const std::string& filename, const std::string& boundary, bool& sendable);

} // namespace tolmail::smtp

// The message exactly as it arrived (GetMessage with bit 8), written to a file of the
// cache while it streams, so that a large message never has to be held in memory.
#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace tolmail::pop3 {

/// One file in the cache that receives the header lines and the body as they are
/// read. Byte-stuffing is undone; line ends stay as they came. A write that fails
/// is remembered, and what follows is dropped.
class RawCopy {
public:
    RawCopy() = default;
    RawCopy(const RawCopy&) = delete;
    RawCopy& operator=(const RawCopy&) = delete;
    /// A copy still open when it goes was not finished: its file is removed.
    ~RawCopy();

    /// Creates a new file in `directory`, exclusively; false with why() set.
    bool create(const std::string& directory);
    /// A header line as read from the server, its line end included.
    void headerLine(std::string_view line);
    /// Body text, already un-stuffed.
    void body(std::string_view text);
    /// Writes what is held and closes the file; false when a write failed.
    bool finish();
    /// Closes and removes the file (a message cut short, a failed write).
    void discard();

    /// The file's full path ("" before create).
    const std::string& path() const { return path_; }
    /// The file and the system's reason for the first failure.
    const std::string& why() const { return why_; }

private:
    bool flush();
    void fail(const std::string& what, int error);

    platform::File file_;
    std::string path_;
    std::string buffer_;
    std::string why_;
    bool failed_ = false;
};

} // namespace tolmail::pop3

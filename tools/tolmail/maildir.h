// Delivery into a Maildir, as POP3 fetchers do it: each message is written whole under
// a unique name in tmp/, flushed to the disk, and only then linked into new/, so that
// a reader never sees a message in part and a crash leaves at most a stray file in tmp/.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tolmail::cli {

namespace sys {
class Directory;
}

/// How one delivery ended.
struct Delivery {
    int status;        ///< EX_OK, EX_CANTCREAT (a file or link could not be made) or EX_IOERR
    std::string why;   ///< the place and the system's reason, when status is not EX_OK
    std::string name;  ///< the message's path below the Maildir ("new/..."), when delivered
    long long bytes = 0;  ///< the size of the delivered file
};

class Maildir {
public:
    /// Opens the Maildir at `path`, creating it and its tmp/, new/ and cur/ (owner-only)
    /// where they are missing; check ok(), and why() when it is not.
    explicit Maildir(const std::string& path);
    ~Maildir();
    Maildir(const Maildir&) = delete;
    Maildir& operator=(const Maildir&) = delete;

    bool ok() const { return directory_ != nullptr; }
    const std::string& why() const { return why_; }
    /// The path the Maildir was opened by.
    const std::string& path() const { return path_; }

    /// Delivers the message held in the file `source` (CR LF line ends, as it came
    /// from the server) with its line ends made LF. On failure nothing of it is left
    /// in the Maildir.
    Delivery deliver(const std::string& source);

private:
    /// The next name nobody else can be using: time, process, a counter and the host.
    std::string uniqueName();

    std::unique_ptr<sys::Directory> directory_;
    std::string path_;
    std::string host_;
    std::string why_;
    unsigned long deliveries_ = 0;
};

/// Makes every CR LF of a stream an LF, wherever the stream is cut into pieces; a lone
/// CR stays.
class UnixLineEnds {
public:
    /// The converted text of the next piece. A CR at its end is held back until the
    /// next piece shows what follows it.
    std::string convert(std::string_view piece);
    /// What is still held back when the stream has ended.
    std::string finish();

private:
    bool heldCR_ = false;
};

} // namespace tolmail::cli

// The private cache directory of tolmail fetch: where large parts wait until they are
// saved. It is removed however the command ends, a terminating signal included.
#pragma once

#include <string>

namespace tolmail::cli {

class PrivateCache {
public:
    /// Creates an owner-only directory under $TMPDIR (or /tmp), named after the
    /// sub-command that uses it; check ok(). While it exists, SIGINT, SIGTERM, SIGHUP
    /// and SIGPIPE remove it before the command dies of them. On Windows: under the
    /// user's temporary directory, removed on a console interrupt or close.
    explicit PrivateCache(const char* command = "fetch");
    ~PrivateCache();
    PrivateCache(const PrivateCache&) = delete;
    PrivateCache& operator=(const PrivateCache&) = delete;

    bool ok() const { return !path_.empty(); }
    /// The directory's path with a trailing "/".
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace tolmail::cli

// The directory that tolmail fetch saves into. Names come from the mail and are not
// trusted: a file is only ever created inside the directory, never through a link,
// never over an existing file.
#pragma once

#include <functional>
#include <string>

#include "system.h"

namespace tolmail::cli {

/// A name from a mail made safe as one file name: its last path component, without
/// control characters (C0, C1, direction overrides) or leading dots, at most 200 bytes
/// cut at a UTF-8 character's start, and what else this system's names may not hold
/// (sys::LocalFileName); `fallback` when nothing is left.
std::string SafeFileName(const std::string& raw, const std::string& fallback);

class SaveDir {
public:
    /// Opens the directory (it must exist); check ok().
    explicit SaveDir(const std::string& path);
    ~SaveDir();
    SaveDir(const SaveDir&) = delete;
    SaveDir& operator=(const SaveDir&) = delete;

    bool ok() const { return dir_.ok(); }
    /// A path that reaches `name` inside the opened directory itself, even if the
    /// directory's own path is changed meanwhile.
    std::string pathOf(const std::string& name) const;

    /// Calls `create(path)` with the safe name, then with "name-1.ext", "name-2.ext" ...
    /// while it reports that the name is taken (returns file_result::Exists). Returns
    /// create's last result; `chosen` gets the name used.
    int create(const std::string& name, const std::function<int(const std::string&)>& create,
               std::string& chosen) const;

    /// Writes a new file (owner-only, exclusive, no link followed); a file_result code:
    /// Ok, Exists when the name is taken, or another.
    int writeNew(const std::string& name, const std::string& data) const;
    /// Brings the finished file `source` in as a new file `name`: moved when it lies on
    /// the same file system, else copied (exclusive, no link followed; a failed copy
    /// leaves nothing behind). A file_result code: Ok, Exists when the name is taken,
    /// Missing when `source` is, or another.
    int adopt(const std::string& name, const std::string& source) const;
    /// Removes `name` (a file this command created and could not finish).
    void discard(const std::string& name) const;

private:
    int copyIn(const std::string& name, const std::string& source) const;

    sys::Directory dir_;
};

} // namespace tolmail::cli

// File services: existence, exclusive creation, reads and writes, with errno mapped
// to the library's file result codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tolmail/file_codes.h"

namespace tolmail::platform {

/// One of the codes of file_result, shared by the file routines and Attachment.Save.
using FileResult = int32_t;

/// Maps an errno value to a file result (ENOSPC DiskFull, EACCES/EPERM/EROFS/ETXTBSY
/// PermissionDenied, EIO/ENXIO/ENODEV NotReady, ENOENT/ENOTDIR PathNotFound, else
/// OtherFailure).
FileResult MapErrno(int err);

/// True when `path` names a regular file (directories and hidden files count as absent).
bool IsNormalFile(const std::string& path);

/// The file's own name without its directory part.
std::string BaseName(const std::string& path);

/// An open file, closed on every way out.
class File {
public:
    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    /// Opens an existing file for reading.
    static File OpenRead(const std::string& path, FileResult& result);
    /// Creates a new file for writing, exclusively (never through an existing name or
    /// link), readable by its owner only. An existing name gives file_result::Exists.
    static File CreateNew(const std::string& path, FileResult& result);
    /// Opens for appending, creating the file (owner-only) when it is missing; never
    /// follows a symbolic link.
    static File OpenAppend(const std::string& path, FileResult& result);

    bool isOpen() const noexcept { return fd_ >= 0; }
    /// Reads up to n bytes; returns the count (0 at the end) or -1 with `result` set.
    long read(void* buffer, size_t n, FileResult& result);
    /// Writes all n bytes; returns false with `result` set on failure.
    bool write(const void* data, size_t n, FileResult& result);
    /// The file's length in bytes, or -1.
    long long size() const;
    void close();

private:
    explicit File(int fd) : fd_(fd) {}
    int fd_ = -1;
};

/// Removes a file; file_result::Ok or the mapped error.
FileResult RemoveFile(const std::string& path);

} // namespace tolmail::platform

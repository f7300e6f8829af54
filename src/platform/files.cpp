// File services over POSIX descriptors, with errno mapped to the file result codes.
#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolmail::platform {

namespace {

struct ErrnoResult {
    int err;
    FileResult result;
};

// One table for the whole library; anything not listed is file_result::OtherFailure.
constexpr ErrnoResult kErrnoResults[] = {
    {ENOSPC, file_result::DiskFull},
    {EDQUOT, file_result::DiskFull},
    {EFBIG, file_result::DiskFull},
    {EACCES, file_result::PermissionDenied},
    {EPERM, file_result::PermissionDenied},
    {EROFS, file_result::PermissionDenied},
    {ETXTBSY, file_result::PermissionDenied},
    {EBUSY, file_result::PermissionDenied},
    {EIO, file_result::NotReady},
    {ENXIO, file_result::NotReady},
    {ENODEV, file_result::NotReady},
    {ENOMEDIUM, file_result::NotReady},
    {ENOENT, file_result::PathNotFound},
    {ENOTDIR, file_result::PathNotFound},
    {ENAMETOOLONG, file_result::PathNotFound},
};

constexpr int kOwnerOnly = 0600;

} // namespace

FileResult MapErrno(int err)
{
    for (const auto& entry : kErrnoResults)
        if (entry.err == err)
            return entry.result;
    return file_result::OtherFailure;
}

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsNormalFile(const std::string& path)
{
    // Dot files are the hidden files here, and like directories they count as absent.
    const std::string name = BaseName(path);
    if (name.empty() || name.front() == '.')
        return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

File::~File() { close(); }

void File::close()
{
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
}

File File::OpenRead(const std::string& path, FileResult& result)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    result = fd < 0 ? MapErrno(errno) : file_result::Ok;
    return File(fd);
}

File File::CreateNew(const std::string& path, FileResult& result)
{
    // O_EXCL with O_NOFOLLOW: an existing name, a dangling link included, is never
    // opened, so nothing is ever written through someone else's link.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly);
    if (fd >= 0) {
        result = file_result::Ok;
        return File(fd);
    }
    result = (errno == EEXIST || errno == ELOOP) ? file_result::Exists : MapErrno(errno);
    return File();
}

File File::OpenAppend(const std::string& path, FileResult& result)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly);
    if (fd >= 0) {
        result = file_result::Ok;
        return File(fd);
    }
    // A symbolic link in the last place is refused like a file we may not write.
    result = errno == ELOOP ? file_result::PermissionDenied : MapErrno(errno);
    return File();
}

long File::read(void* buffer, size_t n, FileResult& result)
{
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, n);
        if (got >= 0) {
            result = file_result::Ok;
            return static_cast<long>(got);
        }
        if (errno != EINTR) {
            result = MapErrno(errno);
            return -1;
        }
    }
}

bool File::write(const void* data, size_t n, FileResult& result)
{
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t put = ::write(fd_, p, n);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            result = MapErrno(errno);
            return false;
        }
        p += put;
        n -= static_cast<size_t>(put);
    }
    result = file_result::Ok;
    return true;
}

long long File::size() const
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return -1;
    return static_cast<long long>(st.st_size);
}

FileResult RemoveFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 ? file_result::Ok : MapErrno(errno);
}

} // namespace tolmail::platform

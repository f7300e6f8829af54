// Safe file names and exclusive creation inside the directory that tolmail fetch saves into.
#include "save_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "tolmail/file_codes.h"
#include "write_all.h"

namespace tolmail::cli {

namespace {

constexpr size_t kLongestName = 200;
constexpr int kMostClashes = 10000;
constexpr size_t kCopyPiece = 1024 * 1024;

/// The file code of a failed creation or write. OtherFailure is kept for content that
/// does not decode, so a system failure never reads as one.
int FileFailure(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return file_result::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return file_result::PermissionDenied;
    case ENOENT:
    case ENOTDIR:
        return file_result::PathNotFound;
    default:
        return file_result::NotReady;
    }
}

/// The length of a UTF-8 control or direction character at `at` that a file name must not
/// carry (C1 controls; embeddings, overrides and isolates, which make "gpj.exe" show as
/// "exe.jpg"); 0 for any other.
size_t HiddenCharacter(std::string_view text, size_t at)
{
    const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
    if (byte(at) == 0xC2 && byte(at + 1) >= 0x80 && byte(at + 1) <= 0x9F)
        return 2;
    if (byte(at) == 0xE2 && byte(at + 1) == 0x80 && byte(at + 2) >= 0xAA && byte(at + 2) <= 0xAE)
        return 3;
    if (byte(at) == 0xE2 && byte(at + 1) == 0x81 && byte(at + 2) >= 0xA6 && byte(at + 2) <= 0xA9)
        return 3;
    return 0;
}

} // namespace

std::string SafeFileName(const std::string& raw, const std::string& fallback)
{
    const size_t slash = raw.find_last_of("/\\");
    const std::string_view last =
        slash == std::string::npos ? std::string_view(raw) : std::string_view(raw).substr(slash + 1);
    std::string name;
    for (size_t at = 0; at < last.size(); ++at) {
        if (const size_t hidden = HiddenCharacter(last, at)) {
            at += hidden - 1;
            continue;
        }
        const auto byte = static_cast<unsigned char>(last[at]);
        if (byte >= 0x20 && byte != 0x7F)
            name += last[at];
    }
    // Cut first: the dot rule below must judge the name that is actually used. The end
    // is kept (it holds the extension), from the start of a UTF-8 character.
    if (name.size() > kLongestName) {
        size_t from = name.size() - kLongestName;
        while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80)
            ++from;
        name.erase(0, from);
    }
    // No hidden files, no "." or ".."; blanks at the ends are invisible.
    const size_t first = name.find_first_not_of(". ");
    name = first == std::string::npos ? "" : name.substr(first);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name.empty() ? fallback : name;
}

SaveDir::SaveDir(const std::string& path) : path_(path)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        return;
    // Through /proc the path is resolved from the open directory, not from its name.
    struct stat st {};
    viaProc_ = ::stat(("/proc/self/fd/" + std::to_string(fd_)).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

SaveDir::~SaveDir()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string SaveDir::pathOf(const std::string& name) const
{
    if (viaProc_)
        return "/proc/self/fd/" + std::to_string(fd_) + "/" + name;
    return path_ + "/" + name;
}

int SaveDir::create(const std::string& name, const std::function<int(const std::string&)>& create,
                    std::string& chosen) const
{
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : "";
    int result = file_result::Exists;
    for (int n = 0; n < kMostClashes && result == file_result::Exists; ++n) {
        chosen = n == 0 ? name : stem + "-" + std::to_string(n) + extension;
        result = create(pathOf(chosen));
    }
    return result;
}

int SaveDir::writeNew(const std::string& name, const std::string& data) const
{
    const int fd = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == EEXIST || errno == ELOOP ? file_result::Exists : FileFailure(errno);
    int error = WriteAll(fd, data.data(), data.size());
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        discard(name);  // a short file must not pass for the whole text
        return FileFailure(error);
    }
    return file_result::Ok;
}

int SaveDir::adopt(const std::string& name, const std::string& source) const
{
    // A hard link never replaces an existing name and never follows a link there.
    if (::linkat(AT_FDCWD, source.c_str(), fd_, name.c_str(), 0) == 0) {
        ::unlink(source.c_str());
        return file_result::Ok;
    }
    if (errno == EEXIST)
        return file_result::Exists;
    if (errno == ENOENT && ::access(source.c_str(), F_OK) != 0)
        return file_result::Missing;
    return copyIn(name, source);  // another file system, or one without hard links
}

int SaveDir::copyIn(const std::string& name, const std::string& source) const
{
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno == ENOENT ? file_result::Missing : FileFailure(errno);
    const int out = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error == EEXIST || error == ELOOP ? file_result::Exists : FileFailure(error);
    }
    std::vector<char> piece(kCopyPiece);
    int result = file_result::Ok;
    for (;;) {
        const ssize_t got = ::read(in, piece.data(), piece.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            result = FileFailure(errno);
        if (got <= 0)
            break;
        if (const int error = WriteAll(out, piece.data(), static_cast<size_t>(got)); error != 0) {
            result = FileFailure(error);
            break;
        }
    }
    ::close(in);
    if (::close(out) != 0 && result == file_result::Ok)
        result = FileFailure(errno);
    if (result != file_result::Ok)
        discard(name);
    return result;
}

void SaveDir::discard(const std::string& name) const
{
    ::unlinkat(fd_, name.c_str(), 0);
}

} // namespace tolmail::cli

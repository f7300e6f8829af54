// Safe file names and exclusive creation inside the directory that tolmail fetch saves into.
#include "save_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tolmail::cli {

namespace {

constexpr size_t kLongestName = 200;
constexpr int kMostClashes = 10000;

} // namespace

std::string SafeFileName(const std::string& raw, const std::string& fallback)
{
    const size_t slash = raw.find_last_of("/\\");
    std::string name;
    for (char c : slash == std::string::npos ? raw : raw.substr(slash + 1)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F)
            name += c;
    }
    // No hidden files, no "." or ".."; blanks at the ends are invisible.
    const size_t first = name.find_first_not_of(". ");
    name = first == std::string::npos ? "" : name.substr(first);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    if (name.size() > kLongestName)
        name = name.substr(name.size() - kLongestName);
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
    int result = 1;
    for (int n = 0; n < kMostClashes && result == 1; ++n) {
        chosen = n == 0 ? name : stem + "-" + std::to_string(n) + extension;
        result = create(pathOf(chosen));
    }
    return result;
}

int SaveDir::writeNew(const std::string& name, const std::string& data) const
{
    const int fd = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == EEXIST || errno == ELOOP ? 1 : 64;
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t put = ::write(fd, data.data() + done, data.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            ::close(fd);
            return errno == ENOSPC ? 2 : 64;
        }
        done += static_cast<size_t>(put);
    }
    return ::close(fd) == 0 ? 0 : 64;
}

} // namespace tolmail::cli

// Maildir delivery: write to tmp/, fsync, link into new/, remove the tmp/ name.
#include "maildir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sysexits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "write_all.h"

namespace tolmail::cli {

namespace {

constexpr mode_t kPrivateDirectory = 0700;
constexpr mode_t kPrivateFile = 0600;
constexpr size_t kPiece = 256 * 1024;

/// The host name as a Maildir name may hold it: "/" and ":" would split the name.
std::string HostPart()
{
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0')
        return "localhost";
    std::string host;
    for (const char* c = buffer; *c; ++c) {
        if (*c == '/')
            host += "\\057";
        else if (*c == ':')
            host += "\\072";
        else
            host += *c;
    }
    return host;
}

/// An open descriptor, closed on every way out.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    /// Closes now; 0 or errno (a failed close can mean lost data).
    int close()
    {
        const int result = ::close(fd_) == 0 ? 0 : errno;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

std::string Reason(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

/// Copies `in` to `out` with Unix line ends; 0, or the errno of the failed read or write.
int CopyWithUnixLineEnds(int in, int out)
{
    std::vector<char> piece(kPiece);
    UnixLineEnds lineEnds;
    for (;;) {
        const ssize_t got = ::read(in, piece.data(), piece.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        const std::string converted =
            got == 0 ? lineEnds.finish() : lineEnds.convert(std::string_view(piece.data(), static_cast<size_t>(got)));
        if (const int error = WriteAll(out, converted.data(), converted.size()); error != 0 || got == 0)
            return error;
    }
}

} // namespace

std::string UnixLineEnds::convert(std::string_view piece)
{
    std::string converted;
    converted.reserve(piece.size() + 1);
    for (const char c : piece) {
        if (heldCR_ && c != '\n')
            converted += '\r';
        heldCR_ = c == '\r';
        if (!heldCR_)
            converted += c;
    }
    return converted;
}

std::string UnixLineEnds::finish()
{
    return std::exchange(heldCR_, false) ? "\r" : "";
}

Maildir::Maildir(const std::string& path) : path_(path), host_(HostPart())
{
    while (path_.size() > 1 && path_.back() == '/')
        path_.pop_back();  // the names shown join it with "/"
    if (::mkdir(path.c_str(), kPrivateDirectory) != 0 && errno != EEXIST) {
        why_ = Reason("cannot create " + path, errno);
        return;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        why_ = Reason("cannot open " + path, errno);
        return;
    }
    // What exists is taken as it is: a sub-directory that is no directory shows at delivery.
    for (const char* sub : {"tmp", "new", "cur"}) {
        if (::mkdirat(fd, sub, kPrivateDirectory) != 0 && errno != EEXIST) {
            why_ = Reason("cannot create " + path_ + "/" + sub, errno);
            ::close(fd);
            return;
        }
    }
    fd_ = fd;
}

Maildir::~Maildir()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string Maildir::uniqueName()
{
    timeval now {};
    ::gettimeofday(&now, nullptr);
    return std::to_string(now.tv_sec) + ".M" + std::to_string(now.tv_usec) + "P" + std::to_string(::getpid()) + "Q" +
           std::to_string(++deliveries_) + "." + host_;
}

Delivery Maildir::deliver(const std::string& source)
{
    const Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return {EX_IOERR, Reason("cannot read the retrieved message", errno), {}};
    // tmp/ and new/ are looked up for each message: a reader may tidy the Maildir meanwhile.
    const Fd tmp(::openat(fd_, "tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (tmp.get() < 0)
        return {EX_CANTCREAT, Reason("cannot open " + path_ + "/tmp", errno), {}};
    const Fd fresh(::openat(fd_, "new", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fresh.get() < 0)
        return {EX_CANTCREAT, Reason("cannot open " + path_ + "/new", errno), {}};

    const std::string name = uniqueName();
    Fd out(::openat(tmp.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivateFile));
    if (out.get() < 0)
        return {EX_CANTCREAT, Reason("cannot create " + path_ + "/tmp/" + name, errno), {}};
    const auto fail = [&](int status, const std::string& what, int error) {
        ::unlinkat(tmp.get(), name.c_str(), 0);  // a file in part must not stay behind
        return Delivery{status, Reason(what, error), {}};
    };
    if (const int error = CopyWithUnixLineEnds(in.get(), out.get()); error != 0)
        return fail(EX_IOERR, "cannot write " + path_ + "/tmp/" + name, error);
    // On the disk before it is announced in new/: a crash must not leave a short message there.
    if (::fsync(out.get()) != 0)
        return fail(EX_IOERR, "cannot flush " + path_ + "/tmp/" + name, errno);
    struct stat written {};
    if (::fstat(out.get(), &written) != 0)
        return fail(EX_IOERR, "cannot look at " + path_ + "/tmp/" + name, errno);
    if (const int error = out.close(); error != 0)
        return fail(EX_IOERR, "cannot write " + path_ + "/tmp/" + name, error);
    // A link never replaces a message already in new/; a file system without hard
    // links gets a rename, which the unique name keeps from replacing one.
    if (::linkat(tmp.get(), name.c_str(), fresh.get(), name.c_str(), 0) == 0) {
        ::unlinkat(tmp.get(), name.c_str(), 0);
    } else if (errno != EPERM && errno != ENOTSUP) {
        return fail(EX_CANTCREAT, "cannot link the message into " + path_ + "/new", errno);
    } else if (::renameat(tmp.get(), name.c_str(), fresh.get(), name.c_str()) != 0) {
        return fail(EX_CANTCREAT, "cannot move the message into " + path_ + "/new", errno);
    }
    (void)::fsync(fresh.get());  // the new name itself survives a crash
    return {EX_OK, {}, "new/" + name, static_cast<long long>(written.st_size)};
}

} // namespace tolmail::cli

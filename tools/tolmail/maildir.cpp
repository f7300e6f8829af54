// Maildir delivery: write to tmp/, fsync, link into new/, remove the tmp/ name.
#include "maildir.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "exit_status.h"
#include "system.h"
#include "write_all.h"

namespace tolmail::cli {

namespace {

constexpr size_t kPiece = 256 * 1024;

/// The host name as a Maildir name may hold it: "/" and ":" would split the name.
std::string HostPart()
{
    const std::string name = sys::HostName();
    if (name.empty())
        return "localhost";
    std::string host;
    for (const char* c = name.c_str(); *c; ++c) {
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
            sys::Close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    /// Closes now; 0 or errno (a failed close can mean lost data).
    int close() { return sys::Close(std::exchange(fd_, -1)); }

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
        const long got = sys::ReadSome(in, piece.data(), piece.size());
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
    if (const int error = sys::MakePrivateDirectory(path); error != 0 && error != EEXIST) {
        why_ = Reason("cannot create " + path, error);
        return;
    }
    auto directory = std::make_unique<sys::Directory>(path);
    if (!directory->ok()) {
        why_ = Reason("cannot open " + path, errno);
        return;
    }
    // What exists is taken as it is: a sub-directory that is no directory shows at delivery.
    for (const char* sub : {"tmp", "new", "cur"}) {
        if (const int error = directory->makeDirectory(sub); error != 0 && error != EEXIST) {
            why_ = Reason("cannot create " + path_ + "/" + sub, error);
            return;
        }
    }
    directory_ = std::move(directory);
}

Maildir::~Maildir() = default;

std::string Maildir::uniqueName()
{
    using namespace std::chrono;
    const microseconds now = duration_cast<microseconds>(system_clock::now().time_since_epoch());
    return std::to_string(now.count() / 1000000) + ".M" + std::to_string(now.count() % 1000000) + "P" +
           std::to_string(sys::ProcessId()) + "Q" + std::to_string(++deliveries_) + "." + host_;
}

Delivery Maildir::deliver(const std::string& source)
{
    const Fd in(sys::OpenToRead(source));
    if (in.get() < 0)
        return {EX_IOERR, Reason("cannot read the retrieved message", errno), {}};
    // tmp/ and new/ are looked up for each message: a reader may tidy the Maildir meanwhile.
    const sys::Directory tmp(*directory_, "tmp");
    if (!tmp.ok())
        return {EX_CANTCREAT, Reason("cannot open " + path_ + "/tmp", errno), {}};
    const sys::Directory fresh(*directory_, "new");
    if (!fresh.ok())
        return {EX_CANTCREAT, Reason("cannot open " + path_ + "/new", errno), {}};

    const std::string name = uniqueName();
    Fd out(tmp.createPrivate(name));
    if (out.get() < 0)
        return {EX_CANTCREAT, Reason("cannot create " + path_ + "/tmp/" + name, errno), {}};
    const auto fail = [&](int status, const std::string& what, int error) {
        tmp.remove(name);  // a file in part must not stay behind
        return Delivery{status, Reason(what, error), {}};
    };
    if (const int error = CopyWithUnixLineEnds(in.get(), out.get()); error != 0)
        return fail(EX_IOERR, "cannot write " + path_ + "/tmp/" + name, error);
    // On the disk before it is announced in new/: a crash must not leave a short message there.
    if (const int error = sys::Flush(out.get()); error != 0)
        return fail(EX_IOERR, "cannot flush " + path_ + "/tmp/" + name, error);
    sys::FileFacts written;
    if (!sys::Describe(out.get(), written))
        return fail(EX_IOERR, "cannot look at " + path_ + "/tmp/" + name, errno);
    if (const int error = out.close(); error != 0)
        return fail(EX_IOERR, "cannot write " + path_ + "/tmp/" + name, error);
    // A link never replaces a message already in new/; a file system without hard
    // links gets a rename, which the unique name keeps from replacing one.
    if (const int linked = tmp.link(name, fresh, name); linked == 0) {
        tmp.remove(name);
    } else if (linked != EPERM && linked != ENOTSUP) {
        return fail(EX_CANTCREAT, "cannot link the message into " + path_ + "/new", linked);
    } else if (const int moved = tmp.rename(name, fresh, name); moved != 0) {
        return fail(EX_CANTCREAT, "cannot move the message into " + path_ + "/new", moved);
    }
    fresh.flush();  // the new name itself survives a crash
    return {EX_OK, {}, "new/" + name, written.size};
}

} // namespace tolmail::cli

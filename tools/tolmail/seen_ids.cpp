// The seen-id store of fetch --new: one id per line, owner-only, replaced by rename.
#include "seen_ids.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "write_all.h"

namespace tolmail::cli {

namespace {

/// A file name that stands for its account: letters, digits and ".-@" kept, the rest "_".
std::string FileNamePart(const std::string& text)
{
    std::string name;
    for (char c : text) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '.' || c == '-' || c == '@';
        name += kept ? c : '_';
    }
    return name;
}

std::string StateDirectory()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/')
        return std::string(state) + "/tolmail";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/state/tolmail";
}

/// Makes each missing directory of `path`, owner-only.
bool MakeDirectories(const std::string& path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

SeenIds::SeenIds(const std::string& server, long port, const std::string& user)
    : dir_(StateDirectory()),
      path_(dir_ + "/seen-" + FileNamePart(user) + "@" + FileNamePart(server) + "_" + std::to_string(port))
{
}

bool SeenIds::load()
{
    std::ifstream in(path_);
    if (!in) {
        if (errno == ENOENT)
            return true;
        why_ = std::strerror(errno);
        return false;
    }
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            earlier_.insert(line);
    if (in.bad()) {
        why_ = "read error";
        return false;
    }
    return true;
}

void SeenIds::stillAtServer(const std::string& id)
{
    if (seen(id))
        kept_.insert(id);
}

bool SeenIds::store()
{
    if (!MakeDirectories(dir_)) {
        why_ = std::strerror(errno);
        return false;
    }
    std::string text;
    for (const std::string& id : kept_)
        text += id + "\n";
    std::string temp = path_ + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        why_ = std::strerror(errno);
        return false;
    }
    // The file must be on the disk before it replaces the old one.
    int failure = WriteAll(fd, text.data(), text.size());
    if (failure == 0 && ::fsync(fd) != 0)
        failure = errno;
    const bool closed = ::close(fd) == 0;
    if (failure != 0 || !closed || ::rename(temp.c_str(), path_.c_str()) != 0) {
        why_ = std::strerror(failure != 0 ? failure : errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

} // namespace tolmail::cli

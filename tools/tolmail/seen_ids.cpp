// The seen-id store of fetch --new: one id per line, owner-only, replaced by rename.
#include "seen_ids.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "system.h"
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

/// Makes each missing directory of `path`, owner-only.
bool MakeDirectories(const std::string& path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (const int error = sys::MakePrivateDirectory(part); error != 0 && error != EEXIST) {
            errno = error;
            return false;
        }
    }
    return true;
}

} // namespace

SeenIds::SeenIds(const std::string& server, long port, const std::string& user)
    : dir_(sys::StateDirectory()),
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
    const int fd = sys::CreateUnique(temp);
    if (fd < 0) {
        why_ = std::strerror(errno);
        return false;
    }
    // The file must be on the disk before it replaces the old one.
    int failure = WriteAll(fd, text.data(), text.size());
    if (failure == 0)
        failure = sys::Flush(fd);
    if (const int closed = sys::Close(fd); failure == 0)
        failure = closed;
    if (failure == 0)
        failure = sys::Replace(temp, path_);
    if (failure != 0) {
        why_ = std::strerror(failure);
        sys::Remove(temp);
        return false;
    }
    return true;
}

} // namespace tolmail::cli

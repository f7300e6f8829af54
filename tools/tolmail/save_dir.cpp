// Safe file names and exclusive creation inside the directory that tolmail fetch saves into.
#include "save_dir.h"

#include <cerrno>
#include <string_view>
#include <vector>

#include "system.h"
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
#ifdef EDQUOT  // not among the C runtime's numbers on Windows
    case EDQUOT:
#endif
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
    name = sys::LocalFileName(name);
    return name.empty() ? fallback : name;
}

SaveDir::SaveDir(const std::string& path) : dir_(path) {}

SaveDir::~SaveDir() = default;

std::string SaveDir::pathOf(const std::string& name) const { return dir_.pathOf(name); }

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
    const int fd = dir_.createPrivate(name);
    if (fd < 0)
        return errno == EEXIST || errno == ELOOP ? file_result::Exists : FileFailure(errno);
    int error = WriteAll(fd, data.data(), data.size());
    if (const int closed = sys::Close(fd); closed != 0 && error == 0)
        error = closed;
    if (error != 0) {
        discard(name);  // a short file must not pass for the whole text
        return FileFailure(error);
    }
    return file_result::Ok;
}

int SaveDir::adopt(const std::string& name, const std::string& source) const
{
    // A hard link never replaces an existing name and never follows a link there.
    const int linked = dir_.linkFrom(source, name);
    if (linked == 0) {
        sys::Remove(source);
        return file_result::Ok;
    }
    sys::FileFacts facts;
    if (linked == EEXIST)
        return file_result::Exists;
    if (linked == ENOENT && !sys::DescribePath(source, facts))
        return file_result::Missing;
    return copyIn(name, source);  // another file system, or one without hard links
}

int SaveDir::copyIn(const std::string& name, const std::string& source) const
{
    const int in = sys::OpenToRead(source);
    if (in < 0)
        return errno == ENOENT ? file_result::Missing : FileFailure(errno);
    const int out = dir_.createPrivate(name);
    if (out < 0) {
        const int error = errno;
        sys::Close(in);
        return error == EEXIST || error == ELOOP ? file_result::Exists : FileFailure(error);
    }
    std::vector<char> piece(kCopyPiece);
    int result = file_result::Ok;
    for (;;) {
        const long got = sys::ReadSome(in, piece.data(), piece.size());
        if (got < 0)
            result = FileFailure(errno);
        if (got <= 0)
            break;
        if (const int error = WriteAll(out, piece.data(), static_cast<size_t>(got)); error != 0) {
            result = FileFailure(error);
            break;
        }
    }
    sys::Close(in);
    if (const int closed = sys::Close(out); closed != 0 && result == file_result::Ok)
        result = FileFailure(closed);
    if (result != file_result::Ok)
        discard(name);
    return result;
}

void SaveDir::discard(const std::string& name) const
{
    dir_.remove(name);
}

} // namespace tolmail::cli

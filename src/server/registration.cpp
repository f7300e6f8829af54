// The registration file: our lines are found by kind and identity (the ProgIDs, class ids
// and library id we own), so that registering again replaces them wherever the library
// moved, and every line of other libraries, comments included, survives untouched.
#include "server/registration.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>

#include "platform/files.h"
#include "server/guid.h"
#include "server/interface_info.h"

namespace tolmail::server {
namespace {

bool Creatable(const TypeEntry& entry)
{
    return entry.kind == TM_TKIND_COCLASS && entry.create;
}

std::string ProgId(const Library& library, const TypeEntry& entry)
{
    return std::string(library.name) + "." + entry.name;
}

/// The first two TAB-separated fields of a line.
std::pair<std::string_view, std::string_view> KindAndKey(std::string_view line)
{
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos)
        return {line, {}};
    const std::string_view rest = line.substr(tab + 1);
    return {line.substr(0, tab), rest.substr(0, rest.find('\t'))};
}

/// The keys that mark our lines, per kind (class and library ids compared in any case).
struct OurKeys {
    std::set<std::string> progids, clsids, libids;

    explicit OurKeys(const Library& library)
    {
        for (const TypeEntry* entry : library.types)
            if (Creatable(*entry)) {
                progids.insert(ProgId(library, *entry));
                clsids.insert(LowerCase(GuidText(entry->guid)));
            }
        libids.insert(LowerCase(GuidText(library.guid)));
    }

    bool owns(std::string_view line) const
    {
        const auto [kind, key] = KindAndKey(line);
        if (kind == "progid")
            return progids.count(std::string(key)) > 0;
        if (kind == "clsid")
            return clsids.count(LowerCase(key)) > 0;
        if (kind == "typelib")
            return libids.count(LowerCase(key)) > 0;
        return false;
    }
};

/// The file's lines, or an empty list when it does not exist; false when it cannot be read.
bool ReadLines(const std::string& file, std::vector<std::string>& lines)
{
    platform::FileResult result = 0;
    platform::File in = platform::File::OpenRead(file, result);
    if (!in.isOpen())
        return result == file_result::PathNotFound;
    std::string text;
    char buffer[8192];
    for (;;) {
        const long got = in.read(buffer, sizeof buffer, result);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.emplace_back(text, start, end - start);
        start = end + 1;
    }
    return true;
}

/// Writes the lines to a new file beside `file` and renames it over `file`, so that a
/// reader sees the old contents or the new, never a part.
bool ReplaceFile(const std::string& file, const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text.append(line).push_back('\n');
    const std::string temporary =
        file + ".new-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    platform::FileResult result = 0;
    platform::File out = platform::File::CreateNew(temporary, result);
    if (!out.isOpen())
        return false;
    const bool written = out.write(text.data(), text.size(), result);
    out.close();
    std::error_code error;
    if (written)
        std::filesystem::rename(temporary, file, error);
    if (!written || error) {
        platform::RemoveFile(temporary);
        return false;
    }
    return true;
}

/// The file's lines without ours, then `added`.
TmResult Rewrite(const Library& library, const std::string& file, const std::vector<std::string>& added)
{
    if (file.empty())
        return TM_SELFREG_E_CLASS;
    std::vector<std::string> lines;
    if (!ReadLines(file, lines))
        return TM_SELFREG_E_CLASS;
    const OurKeys ours(library);
    std::vector<std::string> kept;
    for (std::string& line : lines)
        if (!ours.owns(line))
            kept.push_back(std::move(line));
    if (added.empty() && kept.size() == lines.size())
        return TM_S_OK;  // nothing of ours there: leave the file as it is (or absent)
    kept.insert(kept.end(), added.begin(), added.end());
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
    return ReplaceFile(file, kept) ? TM_S_OK : TM_SELFREG_E_CLASS;
}

} // namespace

std::string RegistryFile()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/')
        return std::string(data) + "/tolmail/registry";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.local/share/tolmail/registry";
    return {};
}

std::vector<std::string> RegistrationLines(const Library& library, const std::string& modulePath)
{
    std::vector<std::string> lines;
    for (const TypeEntry* entry : library.types) {
        if (!Creatable(*entry))
            continue;
        const std::string clsid = GuidText(entry->guid);
        lines.push_back("progid\t" + ProgId(library, *entry) + "\t" + clsid);
        lines.push_back("clsid\t" + clsid + "\t" + entry->name + "\tApartment\t" + modulePath);
    }
    lines.push_back("typelib\t" + GuidText(library.guid) + "\t" + library.name + "\t" +
                    std::to_string(library.majorVersion) + "." + std::to_string(library.minorVersion) + "\t" +
                    std::to_string(library.lcid) + "\t" + modulePath);
    return lines;
}

TmResult Register(const Library& library, const std::string& file, const std::string& modulePath)
{
    if (modulePath.empty() || modulePath.front() != '/')
        return TM_SELFREG_E_CLASS;
    try {
        return Rewrite(library, file, RegistrationLines(library, modulePath));
    } catch (...) {
        return TM_SELFREG_E_CLASS;
    }
}

TmResult Unregister(const Library& library, const std::string& file)
{
    try {
        return Rewrite(library, file, {});
    } catch (...) {
        return TM_SELFREG_E_CLASS;
    }
}

} // namespace tolmail::server

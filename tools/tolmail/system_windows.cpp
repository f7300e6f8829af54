// The command's system services on Windows. Paths are narrow strings throughout, as the
// library takes them; the program's manifest makes the narrow code page UTF-8. Files are
// opened in binary mode: the command writes mail's own line ends.
#include "system.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <random>
#include <string_view>
#include <utility>

namespace tolmail::cli::sys {

namespace {

// Not inherited by the password command the command may start.
constexpr int kNoInherit = _O_BINARY | _O_NOINHERIT;

/// The C runtime's number for a system error, as the runtime itself maps them.
int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return ENOTSUP;  // a file system without hard links (FAT)
    case ERROR_TOO_MANY_LINKS:
        return EMLINK;
    default:
        return EIO;
    }
}

/// 0 when `done`, else the errno of the last system error.
int Outcome(BOOL done) { return done ? 0 : ErrnoOf(GetLastError()); }

/// An environment variable's value, "" when it is not set.
std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : "";
}

void Fill(const struct _stat64& st, FileFacts& facts)
{
    facts.regular = (st.st_mode & _S_IFMT) == _S_IFREG;
    facts.directory = (st.st_mode & _S_IFMT) == _S_IFDIR;
    facts.sharedMode = 0;
    facts.size = static_cast<long long>(st.st_size);
}

/// What the console's input mode was while echo is off, for the interrupt handler.
HANDLE gConsole = INVALID_HANDLE_VALUE;
DWORD gSavedMode = 0;

BOOL WINAPI RestoreEcho(DWORD)
{
    if (gConsole != INVALID_HANDLE_VALUE)
        SetConsoleMode(gConsole, gSavedMode);
    return FALSE;  // the default handler ends the program
}

std::string Utf8Of(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    const int count = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, out.data(), size, nullptr, nullptr);
    return out;
}

} // namespace

void StartProgram()
{
    // Text mode would turn a message's CR LF into CR CR LF and end input at a Ctrl-Z byte.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

int OpenToRead(const std::string& path) { return _open(path.c_str(), _O_RDONLY | kNoInherit); }

int CreatePrivate(const std::string& path)
{
    // A new file takes the directory's access rules; under the user's profile only the
    // user reaches it. _O_EXCL fails on any existing entry, a link included.
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | kNoInherit, _S_IREAD | _S_IWRITE);
}

int CreateUnique(std::string& pattern)
{
    const size_t stem = pattern.size() >= 6 ? pattern.size() - 6 : 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::random_device random;  // the system's random source
        for (size_t at = stem; at < pattern.size(); ++at)
            pattern[at] = kLetters[random() % (sizeof kLetters - 1)];
        const int fd = CreatePrivate(pattern);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

long ReadSome(int fd, void* data, size_t size)
{
    constexpr size_t kLargestRead = 1u << 30;  // the runtime counts in 32 bits
    return _read(fd, data, static_cast<unsigned>(size < kLargestRead ? size : kLargestRead));
}

int Close(int fd) { return _close(fd) == 0 ? 0 : errno; }

int Flush(int fd) { return _commit(fd) == 0 ? 0 : errno; }

bool Describe(int fd, FileFacts& facts)
{
    struct _stat64 st {};
    if (_fstat64(fd, &st) != 0)
        return false;
    Fill(st, facts);
    return true;
}

bool DescribePath(const std::string& path, FileFacts& facts, bool)
{
    // Links are rare here and the runtime's stat does not follow them anyway.
    struct _stat64 st {};
    if (_stat64(path.c_str(), &st) != 0)
        return false;
    Fill(st, facts);
    return true;
}

bool Readable(const std::string& path) { return _access(path.c_str(), 4) == 0; }

int MakePrivateDirectory(const std::string& path) { return _mkdir(path.c_str()) == 0 ? 0 : errno; }

int Replace(const std::string& from, const std::string& to)
{
    return Outcome(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

void Remove(const std::string& path) { _unlink(path.c_str()); }

Directory::Directory(const std::string& path) : path_(path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    open_ = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!open_)
        errno = attributes == INVALID_FILE_ATTRIBUTES ? ErrnoOf(GetLastError()) : ENOTDIR;
}

Directory::Directory(const Directory& parent, const std::string& name) : Directory(parent.pathOf(name)) {}

Directory::~Directory() = default;

std::string Directory::pathOf(const std::string& name) const { return path_ + "/" + name; }

int Directory::makeDirectory(const std::string& name) const { return MakePrivateDirectory(pathOf(name)); }

int Directory::createPrivate(const std::string& name) const { return CreatePrivate(pathOf(name)); }

int Directory::link(const std::string& name, const Directory& to, const std::string& toName) const
{
    return Outcome(CreateHardLinkA(to.pathOf(toName).c_str(), pathOf(name).c_str(), nullptr));
}

int Directory::linkFrom(const std::string& source, const std::string& name) const
{
    return Outcome(CreateHardLinkA(pathOf(name).c_str(), source.c_str(), nullptr));
}

int Directory::rename(const std::string& name, const Directory& to, const std::string& toName) const
{
    // Without MOVEFILE_REPLACE_EXISTING an existing name is kept, as a link would keep it.
    return Outcome(MoveFileExA(pathOf(name).c_str(), to.pathOf(toName).c_str(), MOVEFILE_WRITE_THROUGH));
}

void Directory::remove(const std::string& name) const { Remove(pathOf(name)); }

void Directory::flush() const {}  // the system writes directory entries through itself

std::string LocalFileName(const std::string& name)
{
    std::string local;
    for (const char c : name)
        local += std::string_view("<>:\"|?*").find(c) == std::string_view::npos ? c : '_';
    while (!local.empty() && (local.back() == '.' || local.back() == ' '))
        local.pop_back();
    // A device name stays one with any extension: "nul.txt" is the null device.
    std::string stem = local.substr(0, local.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool numbered = stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
                          stem[3] >= '1' && stem[3] <= '9';
    if (numbered || stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
        local.insert(0, "_");
    return local;
}

std::string HostName()
{
    char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof buffer;
    return GetComputerNameA(buffer, &size) ? std::string(buffer, size) : "";
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

bool IsTerminal(int fd) { return _isatty(fd) != 0; }

void Wipe(void* data, size_t size) { SecureZeroMemory(data, size); }

// A Windows user keeps settings in the roaming profile, state that belongs to this
// machine in the local one, and the netrc file as other Windows tools look for it.
std::string UsualConfigPath()
{
    const std::string appData = Environment("APPDATA");
    return appData.empty() ? "" : appData + "/tolmail/config";
}

std::string NetrcPath()
{
    const std::string profile = Environment("USERPROFILE");
    return profile.empty() ? "" : profile + "/_netrc";
}

const char* const kNetrcShown = "%USERPROFILE%\\_netrc";

std::string StateDirectory()
{
    const std::string local = Environment("LOCALAPPDATA");
    return (local.empty() ? std::string(".") : local) + "/tolmail";
}

std::string HelpText(const char* usage)
{
    const std::string indent = "\n" + std::string(28, ' ');  // the column of the help's descriptions
    const std::pair<std::string, std::string> kPlaces[] = {
        {"$XDG_CONFIG_HOME/tolmail/config, else" + indent + "~/.config/tolmail/config); owner-only, or refused",
         "%APPDATA%\\tolmail\\config)"},
        {"$XDG_STATE_HOME/tolmail (else ~/.local/state/tolmail)", "%LOCALAPPDATA%\\tolmail"},
        {" (owner-only)", ""},
        {"~/.netrc", kNetrcShown},
        {"$TMPDIR", "%TEMP%"},
        {"/bin/sh -c", "cmd /c"},
    };
    std::string text = usage;
    for (const auto& [posix, windows] : kPlaces) {
        for (size_t at = text.find(posix); at != std::string::npos; at = text.find(posix, at + windows.size()))
            text.replace(at, posix.size(), windows);
    }
    return text;
}

std::FILE* StartCommand(const std::string& command)
{
    return _popen(command.c_str(), "rb");  // cmd.exe /c COMMAND
}

std::string EndCommand(std::FILE* output)
{
    const int status = _pclose(output);
    return status == 0 ? "" : "exited with status " + std::to_string(status);
}

std::optional<std::string> ReadHidden(const std::string& prompt, size_t longest)
{
    if (!_isatty(0))
        return std::nullopt;
    // The console itself, not standard input, which may be redirected.
    const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD saved = 0;
    if (!GetConsoleMode(input, &saved)) {
        CloseHandle(input);
        if (output != INVALID_HANDLE_VALUE)
            CloseHandle(output);
        return std::nullopt;
    }
    gConsole = input, gSavedMode = saved;
    SetConsoleCtrlHandler(RestoreEcho, TRUE);
    SetConsoleMode(input, (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
    // Only once echo is off, so nothing typed at the prompt can show.
    DWORD written = 0;
    if (output != INVALID_HANDLE_VALUE)
        WriteConsoleA(output, prompt.data(), static_cast<DWORD>(prompt.size()), &written, nullptr);
    std::wstring typed;
    typed.reserve(longest);  // grown, it would leave copies of what was typed
    for (wchar_t c; typed.size() < longest;) {
        DWORD got = 0;
        if (!ReadConsoleW(input, &c, 1, &got, nullptr) || got == 0 || c == L'\n')
            break;
        if (c != L'\r')
            typed += c;
    }
    SetConsoleMode(input, saved);
    SetConsoleCtrlHandler(RestoreEcho, FALSE);
    gConsole = INVALID_HANDLE_VALUE;
    if (output != INVALID_HANDLE_VALUE) {
        WriteConsoleA(output, "\r\n", 2, &written, nullptr);
        CloseHandle(output);
    }
    CloseHandle(input);
    std::string line = Utf8Of(typed);
    Wipe(typed.data(), typed.size() * sizeof(wchar_t));
    return line;
}

} // namespace tolmail::cli::sys

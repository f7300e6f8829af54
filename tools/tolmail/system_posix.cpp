// The command's system services on POSIX: descriptors, the *at() calls on open
// directories, termios for the prompt.
#include "system.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tolmail::cli::sys {

namespace {

constexpr mode_t kPrivateDirectory = 0700;
constexpr mode_t kPrivateFile = 0600;
constexpr int kNewPrivateFile = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

void Fill(const struct stat& st, FileFacts& facts)
{
    facts.regular = S_ISREG(st.st_mode);
    facts.directory = S_ISDIR(st.st_mode);
    facts.sharedMode = st.st_mode & (S_IRWXG | S_IRWXO);
    facts.size = static_cast<long long>(st.st_size);
}

/// $HOME, or "" when it is not set.
std::string Home()
{
    const char* home = std::getenv("HOME");
    return home && *home ? home : "";
}

// The terminal's settings while echo is off, for the signal handler to put back.
int gTerminal = -1;
struct termios gSaved;

void RestoreAndDie(int signal)
{
    ::tcsetattr(gTerminal, TCSAFLUSH, &gSaved);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

void StartProgram() {}

int OpenToRead(const std::string& path)
{
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

int CreatePrivate(const std::string& path) { return ::open(path.c_str(), kNewPrivateFile, kPrivateFile); }

int CreateUnique(std::string& pattern) { return ::mkstemp(pattern.data()); }

long ReadSome(int fd, void* data, size_t size)
{
    for (;;) {
        const ssize_t got = ::read(fd, data, size);
        if (got >= 0 || errno != EINTR)
            return static_cast<long>(got);
    }
}

int Close(int fd) { return ::close(fd) == 0 ? 0 : errno; }

int Flush(int fd) { return ::fsync(fd) == 0 ? 0 : errno; }

bool Describe(int fd, FileFacts& facts)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    Fill(st, facts);
    return true;
}

bool DescribePath(const std::string& path, FileFacts& facts, bool followLinks)
{
    struct stat st {};
    if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0)
        return false;
    Fill(st, facts);
    return true;
}

bool Readable(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

int MakePrivateDirectory(const std::string& path)
{
    return ::mkdir(path.c_str(), kPrivateDirectory) == 0 ? 0 : errno;
}

int Replace(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void Remove(const std::string& path) { ::unlink(path.c_str()); }

Directory::Directory(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), path_(path)
{
    open_ = fd_ >= 0;
    if (!open_)
        return;
    // Through /proc the path is resolved from the open directory, not from its name.
    const int error = errno;
    struct stat st {};
    viaProc_ = ::stat(("/proc/self/fd/" + std::to_string(fd_)).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    errno = error;
}

Directory::Directory(const Directory& parent, const std::string& name)
    : fd_(::openat(parent.fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), path_(parent.path_ + "/" + name)
{
    open_ = fd_ >= 0;
}

Directory::~Directory()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string Directory::pathOf(const std::string& name) const
{
    if (viaProc_)
        return "/proc/self/fd/" + std::to_string(fd_) + "/" + name;
    return path_ + "/" + name;
}

int Directory::makeDirectory(const std::string& name) const
{
    return ::mkdirat(fd_, name.c_str(), kPrivateDirectory) == 0 ? 0 : errno;
}

int Directory::createPrivate(const std::string& name) const
{
    return ::openat(fd_, name.c_str(), kNewPrivateFile, kPrivateFile);
}

int Directory::link(const std::string& name, const Directory& to, const std::string& toName) const
{
    return ::linkat(fd_, name.c_str(), to.fd_, toName.c_str(), 0) == 0 ? 0 : errno;
}

int Directory::linkFrom(const std::string& source, const std::string& name) const
{
    return ::linkat(AT_FDCWD, source.c_str(), fd_, name.c_str(), 0) == 0 ? 0 : errno;
}

int Directory::rename(const std::string& name, const Directory& to, const std::string& toName) const
{
    return ::renameat(fd_, name.c_str(), to.fd_, toName.c_str()) == 0 ? 0 : errno;
}

void Directory::remove(const std::string& name) const { ::unlinkat(fd_, name.c_str(), 0); }

void Directory::flush() const { (void)::fsync(fd_); }

std::string LocalFileName(const std::string& name) { return name; }

std::string HostName()
{
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0)
        return "";
    return buffer;
}

long ProcessId() { return static_cast<long>(::getpid()); }

bool IsTerminal(int fd) { return ::isatty(fd) != 0; }

void Wipe(void* data, size_t size) { ::explicit_bzero(data, size); }

std::string UsualConfigPath()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return std::string(xdg) + "/tolmail/config";
    const std::string home = Home();
    return home.empty() ? "" : home + "/.config/tolmail/config";
}

std::string NetrcPath()
{
    const std::string home = Home();
    return home.empty() ? "" : home + "/.netrc";
}

const char* const kNetrcShown = "~/.netrc";

std::string StateDirectory()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/')
        return std::string(state) + "/tolmail";
    const std::string home = Home();
    return (home.empty() ? std::string(".") : home) + "/.local/state/tolmail";
}

std::string HelpText(const char* usage) { return usage; }

std::FILE* StartCommand(const std::string& command)
{
    return ::popen(command.c_str(), "re");  // /bin/sh -c COMMAND
}

std::string EndCommand(std::FILE* output)
{
    const int status = ::pclose(output);
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return "";
    if (status != -1 && WIFSIGNALED(status))
        return "was killed by signal " + std::to_string(WTERMSIG(status));
    return "exited with status " + std::to_string(status == -1 ? -1 : WEXITSTATUS(status));
}

std::optional<std::string> ReadHidden(const std::string& prompt, size_t longest)
{
    if (!::isatty(STDIN_FILENO))
        return std::nullopt;
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return std::nullopt;
    struct termios saved {};
    if (::tcgetattr(tty, &saved) != 0) {
        ::close(tty);
        return std::nullopt;
    }
    gTerminal = tty, gSaved = saved;
    struct sigaction restore {}, previous[4];
    restore.sa_handler = RestoreAndDie;
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    for (int i = 0; i < 4; ++i)
        ::sigaction(signals[i], &restore, &previous[i]);
    struct termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
    // Only once echo is off, so nothing typed at the prompt can show.
    (void)!::write(tty, prompt.data(), prompt.size());
    std::string line;
    line.reserve(longest);  // grown, it would leave copies of what was typed
    for (char c; line.size() < longest;) {
        const ssize_t got = ::read(tty, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || c == '\n')
            break;
        line += c;
    }
    ::tcsetattr(tty, TCSAFLUSH, &saved);
    for (int i = 0; i < 4; ++i)
        ::sigaction(signals[i], &previous[i], nullptr);
    gTerminal = -1;
    (void)!::write(tty, "\n", 1);
    ::close(tty);
    return line;
}

} // namespace tolmail::cli::sys

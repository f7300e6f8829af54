#include "password.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

#include "outcome.h"
#include "terminal_text.h"

namespace tolmail::cli {

namespace {

// Only the first line of a file or a command's output is the password.
constexpr size_t kLongestPasswordSource = 64 * 1024;

constexpr size_t kReadPiece = 4096;

/// Wipes what held a password when the scope ends, thrown errors included. A string is
/// given its whole room at once, so that growing never leaves a copy behind in freed
/// memory.
class WipedOnExit {
public:
    explicit WipedOnExit(std::string& text) : text_(&text) { text.reserve(kLongestPasswordSource + kReadPiece); }
    explicit WipedOnExit(char (&buffer)[kReadPiece]) : buffer_(buffer) {}
    ~WipedOnExit()
    {
        if (text_) {
            text_->resize(text_->capacity());
            ::explicit_bzero(text_->data(), text_->size());
        }
        if (buffer_)
            ::explicit_bzero(buffer_, kReadPiece);
    }
    WipedOnExit(const WipedOnExit&) = delete;
    WipedOnExit& operator=(const WipedOnExit&) = delete;

private:
    std::string* text_ = nullptr;
    char* buffer_ = nullptr;
};

std::string FirstLine(const std::string& text)
{
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::string FromFile(const std::string& path)
{
    const std::string shown = "the password file " + Printable(path);
    // Non-blocking, so that a FIFO is refused rather than waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw ConfigError("no password: cannot open " + shown + ": " + std::strerror(errno), EX_NOINPUT);
    struct stat st {};
    std::string text;
    const WipedOnExit wipeText(text);
    std::string why;
    int status = EX_NOINPUT;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = shown + (S_ISDIR(st.st_mode) ? " is a directory" : " is not a regular file");
    } else {
        char buffer[kReadPiece];
        const WipedOnExit wipeBuffer(buffer);
        while (text.size() < kLongestPasswordSource && text.find('\n') == std::string::npos) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                why = "cannot read " + shown + ": " + std::strerror(errno), status = EX_IOERR;
            if (got <= 0)
                break;
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    ::close(fd);
    if (!why.empty())
        throw ConfigError("no password: " + why, status);
    const std::string password = FirstLine(text);
    if (password.empty())
        throw ConfigError("the first line of " + shown + " is empty (no password)", EX_DATAERR);
    return password;
}

std::string FromCommand(const std::string& command)
{
    const std::string shown = "the password command '" + Printable(command) + "'";
    std::fflush(nullptr);
    FILE* pipe = ::popen(command.c_str(), "re");  // /bin/sh -c COMMAND
    if (!pipe)
        throw ConfigError("no password: cannot run " + shown + ": " + std::strerror(errno), EX_OSERR);
    // Read to the end, so the command is not killed by a broken pipe for printing more.
    std::string text;
    const WipedOnExit wipeText(text);
    char buffer[kReadPiece];
    const WipedOnExit wipeBuffer(buffer);
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        if (text.size() < kLongestPasswordSource)
            text.append(buffer, got);
    const int status = ::pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const std::string how = status != -1 && WIFSIGNALED(status)
                                    ? "was killed by signal " + std::to_string(WTERMSIG(status))
                                    : "exited with status " + std::to_string(status == -1 ? -1 : WEXITSTATUS(status));
        throw ConfigError("no password: " + shown + " " + how, EX_CONFIG);
    }
    const std::string password = FirstLine(text);
    if (password.empty())
        throw ConfigError("no password: " + shown + " printed an empty line", EX_DATAERR);
    return password;
}

/// The password of ~/.netrc for host and user, as ftp(1) reads it: the first entry for
/// the host whose login is the user's, or that names none.
std::optional<std::string> FromNetrc(const std::string& host, const std::string& user)
{
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        return std::nullopt;
    const std::string path = std::string(home) + "/.netrc";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::string text;
    const WipedOnExit wipeText(text);
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char buffer[kReadPiece];
        const WipedOnExit wipeBuffer(buffer);
        for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < kLongestPasswordSource;)
            text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    std::istringstream tokens(text);
    std::string token, machine, login, password;
    bool inEntry = false;
    const auto matches = [&] { return inEntry && machine == host && (login.empty() || login == user) && !password.empty(); };
    while (tokens >> token) {
        if (token == "machine" || token == "default" || token == "macdef") {
            if (matches())
                break;
            inEntry = token != "macdef";
            login.clear(), password.clear(), machine.clear();
            if (token == "machine")
                tokens >> machine;
            else if (token == "default")  // serves every host not named before it
                machine = host;
            else if (token == "macdef")  // a macro runs to the next empty line
                for (std::string line; std::getline(tokens, line) && !line.empty();) {
                }
        } else if (token == "login") {
            tokens >> login;
        } else if (token == "password") {
            tokens >> password;
        } else if (token == "account") {
            tokens >> token;
        }
    }
    if (!matches())
        return std::nullopt;
    // As ftp(1) does: a password that others may read is no secret any more.
    if (st.st_mode & (S_IRWXG | S_IRWXO))
        throw ConfigError("no password: " + Printable(path) + " holds a password but others may read it (chmod 600 it)",
                          EX_CONFIG);
    return password;
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

/// Reads a line from /dev/tty with echo off; echo comes back on every way out, an
/// interrupt included.
std::optional<std::string> FromPrompt(const std::string& host, const std::string& user)
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
    const std::string prompt = "Password for " + Printable(user) + "@" + Printable(host) + ": ";
    (void)!::write(tty, prompt.data(), prompt.size());
    std::string line;
    line.reserve(kLongestPasswordSource);  // grown, it would leave copies of what was typed
    for (char c; line.size() < kLongestPasswordSource;) {
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
    return FirstLine(line);
}

} // namespace

std::string FindPassword(const PasswordRequest& request)
{
    if (!request.file.empty())
        return FromFile(request.file);
    if (!request.command.empty())
        return FromCommand(request.command);
    if (const char* env = std::getenv("TOLMAIL_PASSWORD")) {
        if (!*env)
            throw ConfigError("no password: the password in TOLMAIL_PASSWORD is empty");
        return env;
    }
    if (std::optional<std::string> password = FromNetrc(request.host, request.user))
        return *password;
    if (std::optional<std::string> password = FromPrompt(request.host, request.user)) {
        if (password->empty())
            throw ConfigError("no password: none was typed", EX_DATAERR);
        return *password;
    }
    throw ConfigError("no password: none in --password-file, --password-command, TOLMAIL_PASSWORD or ~/.netrc");
}

} // namespace tolmail::cli

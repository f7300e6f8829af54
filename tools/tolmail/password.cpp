#include "password.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

#include "outcome.h"
#include "system.h"
#include "terminal_text.h"

namespace tolmail::cli {

namespace {

// Only the first line of a file or a command's output is the password.
constexpr size_t kLongestPasswordSource = 64 * 1024;

constexpr size_t kReadPiece = 4096;

constexpr unsigned kGroupOrOthersAny = 0077;

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
            sys::Wipe(text_->data(), text_->size());
        }
        if (buffer_)
            sys::Wipe(buffer_, kReadPiece);
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
    const int fd = sys::OpenToRead(path);
    if (fd < 0)
        throw ConfigError("no password: cannot open " + shown + ": " + std::strerror(errno), EX_NOINPUT);
    sys::FileFacts facts;
    std::string text;
    const WipedOnExit wipeText(text);
    std::string why;
    int status = EX_NOINPUT;
    if (!sys::Describe(fd, facts) || !facts.regular) {
        why = shown + (facts.directory ? " is a directory" : " is not a regular file");
    } else {
        char buffer[kReadPiece];
        const WipedOnExit wipeBuffer(buffer);
        while (text.size() < kLongestPasswordSource && text.find('\n') == std::string::npos) {
            const long got = sys::ReadSome(fd, buffer, sizeof buffer);
            if (got < 0)
                why = "cannot read " + shown + ": " + std::strerror(errno), status = EX_IOERR;
            if (got <= 0)
                break;
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    sys::Close(fd);
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
    FILE* pipe = sys::StartCommand(command);
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
    if (const std::string how = sys::EndCommand(pipe); !how.empty())
        throw ConfigError("no password: " + shown + " " + how, EX_CONFIG);
    const std::string password = FirstLine(text);
    if (password.empty())
        throw ConfigError("no password: " + shown + " printed an empty line", EX_DATAERR);
    return password;
}

/// The password of ~/.netrc for host and user, as ftp(1) reads it: the first entry for
/// the host whose login is the user's, or that names none.
std::optional<std::string> FromNetrc(const std::string& host, const std::string& user)
{
    const std::string path = sys::NetrcPath();
    if (path.empty())
        return std::nullopt;
    const int fd = sys::OpenToRead(path);
    if (fd < 0)
        return std::nullopt;
    sys::FileFacts facts;
    std::string text;
    const WipedOnExit wipeText(text);
    if (sys::Describe(fd, facts) && facts.regular) {
        char buffer[kReadPiece];
        const WipedOnExit wipeBuffer(buffer);
        for (long got; (got = sys::ReadSome(fd, buffer, sizeof buffer)) > 0 && text.size() < kLongestPasswordSource;)
            text.append(buffer, static_cast<size_t>(got));
    }
    sys::Close(fd);
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
    if (facts.sharedMode & kGroupOrOthersAny)
        throw ConfigError("no password: " + Printable(path) + " holds a password but others may read it (chmod 600 it)",
                          EX_CONFIG);
    return password;
}

/// Asks on the terminal, when there is one.
std::optional<std::string> FromPrompt(const std::string& host, const std::string& user)
{
    const std::optional<std::string> line =
        sys::ReadHidden("Password for " + Printable(user) + "@" + Printable(host) + ": ", kLongestPasswordSource);
    if (!line)
        return std::nullopt;
    return FirstLine(*line);
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
    throw ConfigError(std::string("no password: none in --password-file, --password-command, TOLMAIL_PASSWORD or ") +
                      sys::kNetrcShown);
}

} // namespace tolmail::cli

// Shared helpers for tests that talk to real servers: the addresses the server
// scripts export, the skip rule, and delivery into the test users' Maildirs.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace tolmail::testing {

/// The environment variable, or `fallback` when it is unset or empty.
inline std::string Env(const char* name, const std::string& fallback = {})
{
    const char* value = std::getenv(name);
    return (value && *value) ? std::string(value) : fallback;
}

/// True when the test run demands the servers (TOLMAIL_REQUIRE_SERVERS=1): a missing
/// server then fails the test instead of skipping it.
inline bool ServersRequired()
{
    return Env("TOLMAIL_REQUIRE_SERVERS") == "1";
}

/// Where the POP3 server of scripts/servers/dovecot.sh listens.
struct Pop3Server {
    std::string host;
    int16_t port = 0;
    std::string password;
    std::string mailRoot;  // <mailRoot>/<user>/Maildir
};

/// The POP3 server from the environment; port 0 when it is not configured.
inline Pop3Server Pop3FromEnv()
{
    Pop3Server server;
    server.host = Env("TOLMAIL_POP3_HOST", "127.0.0.1");
    server.port = static_cast<int16_t>(std::atoi(Env("TOLMAIL_POP3_PORT", "0").c_str()));
    server.password = Env("TOLMAIL_POP3_PASSWORD", "tolmail-pass");
    server.mailRoot = Env("TOLMAIL_MAIL_ROOT");
    return server;
}

namespace detail {

inline void OwnByMailUser(const std::string& path)
{
    // The servers run the mailboxes as the system user "tolmail"; without it (or
    // without root) the files keep their current owner.
    const passwd* user = ::getpwnam("tolmail");
    if (user && ::geteuid() == 0)
        (void)::chown(path.c_str(), user->pw_uid, user->pw_gid);
}

inline void MakeOwnedDir(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
        OwnByMailUser(path);
}

inline std::string Maildir(const std::string& user)
{
    return Pop3FromEnv().mailRoot + "/" + user + "/Maildir";
}

/// A Maildir file name that sorts after every earlier one of this process, so the
/// server numbers messages in the order they were delivered.
inline std::string UniqueName()
{
    static long long lastMicros = 0;
    static unsigned counter = 0;
    timeval now{};
    ::gettimeofday(&now, nullptr);
    long long micros = static_cast<long long>(now.tv_sec) * 1000000 + now.tv_usec;
    if (micros <= lastMicros)
        micros = lastMicros + 1;
    lastMicros = micros;
    char name[128];
    std::snprintf(name, sizeof name, "%lld.M%06lldP%dQ%u.tolmail-test", micros / 1000000, micros % 1000000,
                  static_cast<int>(::getpid()), ++counter);
    return name;
}

} // namespace detail

/// Puts a raw message (CR LF or LF line ends, as the server stores it) into the user's
/// Maildir the way a delivery agent does: written under tmp/, renamed into new/.
/// Returns false when the mail root is unknown or a file operation failed.
inline bool DeliverToMaildir(const std::string& user, const std::string& rawMessage)
{
    if (Pop3FromEnv().mailRoot.empty())
        return false;
    std::string home = Pop3FromEnv().mailRoot + "/" + user;
    std::string maildir = detail::Maildir(user);
    detail::MakeOwnedDir(home);
    detail::MakeOwnedDir(maildir);
    for (const char* sub : {"/tmp", "/new", "/cur"})
        detail::MakeOwnedDir(maildir + sub);

    std::string name = detail::UniqueName();
    std::string staged = maildir + "/tmp/" + name;
    int fd = ::open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        return false;
    size_t written = 0;
    while (written < rawMessage.size()) {
        ssize_t n = ::write(fd, rawMessage.data() + written, rawMessage.size() - written);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    ::close(fd);
    if (written != rawMessage.size())
        return false;
    detail::OwnByMailUser(staged);
    return ::rename(staged.c_str(), (maildir + "/new/" + name).c_str()) == 0;
}

/// Removes every message from the user's Maildir (new/, cur/ and tmp/).
inline void ClearMaildir(const std::string& user)
{
    if (Pop3FromEnv().mailRoot.empty())
        return;
    std::error_code ignored;
    for (const char* sub : {"/new", "/cur", "/tmp"}) {
        std::filesystem::path dir = detail::Maildir(user) + sub;
        for (const auto& entry : std::filesystem::directory_iterator(dir, ignored))
            std::filesystem::remove(entry.path(), ignored);
    }
}

} // namespace tolmail::testing

/// Skips the test when the environment variable `var` (set by a server script) is
/// missing, or fails it when the run demands servers (TOLMAIL_REQUIRE_SERVERS=1).
#define TOLMAIL_NEED_ENV(var)                                                                    \
    do {                                                                                         \
        if (::tolmail::testing::Env(var).empty()) {                                              \
            if (::tolmail::testing::ServersRequired())                                           \
                FAIL() << var << " is not set: start the servers (scripts/servers/*.sh start)";  \
            GTEST_SKIP() << var << " is not set: start the servers (scripts/servers/*.sh start)"; \
        }                                                                                        \
    } while (0)

/// The POP3 server and the Maildirs it serves.
#define TOLMAIL_NEED_POP3_SERVER()            \
    do {                                      \
        TOLMAIL_NEED_ENV("TOLMAIL_POP3_PORT"); \
        TOLMAIL_NEED_ENV("TOLMAIL_MAIL_ROOT"); \
    } while (0)

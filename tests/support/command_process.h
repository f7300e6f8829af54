// Runs the built tolmail command as a user would: its own process, its own environment,
// standard streams from and to files, and a bounded wait, so that a command that hangs
// fails its test instead of the run.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/loopback_peer.h"

namespace command {

struct Launch {
    explicit Launch(std::vector<std::string> args, std::vector<std::string> env = {})
        : args(std::move(args)), env(std::move(env))
    {
    }

    std::vector<std::string> args;  // after the command's own path
    std::vector<std::string> env;   // besides PATH and the sanitizers' options, which are kept
    std::string input = "/dev/null";
    std::string output = "/dev/null";
    std::string errors = "/dev/null";
    // A session of its own, in which a terminal given as `input` becomes the controlling one.
    bool ownSession = false;
    // SIGINT, SIGTERM, SIGHUP and SIGPIPE at their defaults, even when the runner ignores them.
    bool defaultSignals = false;
};

/// Starts TOLMAIL_COMMAND; its pid, or -1 when it could not be started.
inline pid_t Start(Launch launch)
{
    for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* value = std::getenv(keep))
            launch.env.push_back(std::string(keep) + "=" + value);
    launch.args.insert(launch.args.begin(), TOLMAIL_COMMAND);
    std::vector<char*> argp, envp;
    for (auto [from, to] : {std::pair{&launch.args, &argp}, std::pair{&launch.env, &envp}}) {
        for (std::string& s : *from)
            to->push_back(s.data());
        to->push_back(nullptr);
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, launch.input.c_str(), launch.ownSession ? O_RDWR : O_RDONLY | O_NOCTTY,
                                     0);
    posix_spawn_file_actions_addopen(&files, 1, launch.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, launch.errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    short flags = 0;
    if (launch.ownSession)
        flags |= POSIX_SPAWN_SETSID;
    if (launch.defaultSignals) {
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            sigaddset(&defaults, signal);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        flags |= POSIX_SPAWN_SETSIGDEF;
    }
    posix_spawnattr_setflags(&attributes, flags);
    pid_t pid = -1;
    if (posix_spawn(&pid, launch.args[0].c_str(), &files, &attributes, argp.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (pid < 0)
        ADD_FAILURE() << "cannot start " << launch.args[0];
    return pid;
}

/// Waits for the command, a minute at most; its wait status, or -1 when it had to be killed.
inline int Wait(pid_t pid)
{
    int status = 0;
    for (const auto deadline = loopback::after(60000); ::waitpid(pid, &status, WNOHANG) == 0; loopback::pause(10)) {
        if (loopback::Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "the command did not end";
            return -1;
        }
    }
    return status;
}

/// The exit status, or -1 when the command did not exit by itself.
inline int ExitCode(int status)
{
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string Contents(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace command

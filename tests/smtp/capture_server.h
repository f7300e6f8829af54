// Test fixture helper: runs Debian's aiosmtpd (through /usr/bin/python3) as a capture
// server on a free loopback port and hands back each connection's received bytes.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace smtptest {

class CaptureServer {
public:
    /// Starts the server; available() is false when it could not start.
    CaptureServer()
    {
        char pattern[] = "/tmp/smtp-capture-XXXXXX";
        int in[2], out[2];
        if (mkdtemp(pattern) == nullptr || pipe(in) != 0 || pipe(out) != 0)
            return;
        dir_ = pattern;
        const std::string script = (std::filesystem::path(TOLMAIL_TESTS_DIR "/smtp") / "capture_server.py").string();
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            execl("/usr/bin/python3", "/usr/bin/python3", script.c_str(), dir_.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        stdinFd_ = in[1];
        // The first line is the port; the interpreter gets a bounded time to start.
        std::string line;
        pollfd p{out[0], POLLIN, 0};
        char c;
        while (line.find('\n') == std::string::npos && poll(&p, 1, 15000) > 0 && read(out[0], &c, 1) == 1)
            line += c;
        close(out[0]);
        port_ = static_cast<uint16_t>(std::atoi(line.c_str()));
    }

    /// Closing the server's standard input ends it; it is reaped by its process id.
    ~CaptureServer()
    {
        if (stdinFd_ >= 0)
            close(stdinFd_);
        for (int i = 0; pid_ > 0 && i < 100; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_)
                pid_ = -1;  // reaped: its id may belong to another process from now on
            else
                usleep(20000);
        }
        if (pid_ > 0 && kill(pid_, SIGTERM) == 0)
            waitpid(pid_, nullptr, 0);
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
    }
    CaptureServer(const CaptureServer&) = delete;
    CaptureServer& operator=(const CaptureServer&) = delete;

    bool available() const { return port_ != 0; }
    uint16_t port() const { return port_; }

    /// Connections served so far.
    int connections() const
    {
        int n = 0;
        while (std::filesystem::exists(path(n + 1)))
            ++n;
        return n;
    }

    /// Everything the client sent on connection n (from 1).
    std::string received(int n) const
    {
        std::ifstream f(path(n), std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }

private:
    std::string path(int n) const { return dir_ + "/conn-" + std::to_string(n) + ".bin"; }

    std::string dir_;
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    uint16_t port_ = 0;
};

} // namespace smtptest

// Test fixture helper: runs Debian's aiosmtpd (through /usr/bin/python3) as a capture
// server on a free loopback port and hands back each connection's received bytes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace smtptest {

class CaptureServer {
public:
    /// Starts the server; available() is false when it could not start.
    CaptureServer();
    /// Closes the server's standard input, which ends it, and reaps it by its id.
    ~CaptureServer();
    CaptureServer(const CaptureServer&) = delete;
    CaptureServer& operator=(const CaptureServer&) = delete;

    bool available() const { return port_ != 0; }
    uint16_t port() const { return port_; }
    /// Connections served so far.
    int connections() const;
    /// Everything the client sent on connection n (from 1).
    std::string received(int n) const;

private:
    std::string dir_;
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    uint16_t port_ = 0;
};

} // namespace smtptest

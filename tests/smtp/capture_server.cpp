// The aiosmtpd capture server process for byte-exact tests.
#include "smtp/capture_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace smtptest {

namespace {

const char* const kPython = "/usr/bin/python3";

std::string scriptPath()
{
    return (std::filesystem::path(__FILE__).parent_path() / "capture_server.py").string();
}

} // namespace

CaptureServer::CaptureServer()
{
    char pattern[] = "/tmp/smtp-capture-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return;
    dir_ = pattern;
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[1]);
        close(out[0]);
        const std::string script = scriptPath();
        execl(kPython, kPython, script.c_str(), dir_.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdinFd_ = in[1];
    // The first line is the port; give the interpreter a bounded time to start.
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    char c;
    while (line.find('\n') == std::string::npos && poll(&p, 1, 15000) > 0 && read(out[0], &c, 1) == 1)
        line += c;
    close(out[0]);
    port_ = static_cast<uint16_t>(std::atoi(line.c_str()));
}

CaptureServer::~CaptureServer()
{
    if (stdinFd_ >= 0)
        close(stdinFd_);
    if (pid_ > 0) {
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            usleep(20000);
        }
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    if (!dir_.empty())
        std::filesystem::remove_all(dir_);
}

int CaptureServer::connections() const
{
    int n = 0;
    while (std::filesystem::exists(dir_ + "/conn-" + std::to_string(n + 1) + ".bin"))
        ++n;
    return n;
}

std::string CaptureServer::received(int n) const
{
    std::ifstream f(dir_ + "/conn-" + std::to_string(n) + ".bin", std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

} // namespace smtptest

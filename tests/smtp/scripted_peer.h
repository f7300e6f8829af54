// A scripted SMTP peer on a loopback port, written on plain POSIX sockets so that it
// does not share code with the socket layer under test.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace smtptest {

/// One action of a connection's script.
struct Action {
    enum Kind { Send, ReadLine, ReadData, Close, Drain } kind;
    std::string text;  // Send: the bytes to write
    int millis = 0;    // Drain: how long to keep reading
};

inline Action Say(std::string text) { return {Action::Send, std::move(text)}; }
inline Action Hear() { return {Action::ReadLine, {}}; }
/// Reads up to and including the end-of-data line.
inline Action HearData() { return {Action::ReadData, {}}; }
inline Action Hangup() { return {Action::Close, {}}; }
/// Reads whatever comes until the client closes or `millis` pass.
inline Action Listen(int millis) { return {Action::Drain, {}, millis}; }

/// Serves one script per accepted connection, in order, on 127.0.0.1. Every wait is
/// bounded, so the thread ends by itself even when the client never comes.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<std::vector<Action>> scripts);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    uint16_t port() const { return port_; }
    /// Waits for the thread to finish its scripts; returns what each connection received.
    std::vector<std::string> finish();

private:
    void run();
    void serve(int fd, const std::vector<Action>& script, std::string& got);

    std::vector<std::vector<Action>> scripts_;
    std::vector<std::string> received_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

} // namespace smtptest

// A loopback SMTP server with STARTTLS or implicit TLS, played by OpenSSL, for the
// component's and the command's tests: what it heard in clear and under TLS is kept
// apart, and after its go-ahead to STARTTLS it may misbehave in the ways a handshake can.
#pragma once

#include <functional>
#include <string>

#include "support/loopback_peer.h"
#include "support/tls_test_peer.h"

namespace tls_peer {

/// What the server does once it said "220" to STARTTLS.
enum class AfterGoAhead { Handshake, Garbage, CloseInHandshake, Stall };

struct ServerPlan {
    const Credential* certificate = &Pki().good;
    bool implicit = false;
    std::string ehloClear = "250-mx.test\r\n250 STARTTLS\r\n";
    std::string startTlsReply = "220 go ahead\r\n";
    AfterGoAhead after = AfterGoAhead::Handshake;
    std::string ehloSecure = "250-mx.test\r\n250 AUTH PLAIN\r\n";
};

/// One side of the conversation, in clear or under TLS.
struct Wire {
    std::function<std::string(const std::string& marker)> readUntil;
    std::function<void(const std::string&)> write;
};

/// Answers commands until QUIT or silence; true when STARTTLS was answered with "220".
inline bool Converse(const Wire& wire, const ServerPlan& plan, bool secure, std::string& heard)
{
    for (int commands = 0; commands < 32; ++commands) {
        const std::string line = wire.readUntil("\r\n");
        if (!line.ends_with("\r\n"))
            return false;
        heard += line;
        std::string reply = "250 ok\r\n";
        if (line.starts_with("EHLO"))
            reply = secure ? plan.ehloSecure : plan.ehloClear;
        else if (line.starts_with("STARTTLS")) {
            wire.write(plan.startTlsReply);
            if (plan.startTlsReply.starts_with("220") || plan.startTlsReply.empty())
                return !plan.startTlsReply.empty();
            continue;  // refused: the session goes on in clear
        } else if (line.starts_with("AUTH"))
            reply = "235 2.7.0 ok\r\n";
        else if (line.starts_with("DATA")) {
            wire.write("354 go on\r\n");
            heard += wire.readUntil("\r\n.\r\n");
        } else if (line.starts_with("QUIT"))
            reply = "221 bye\r\n";
        wire.write(reply);
        if (line.starts_with("QUIT"))
            return false;
    }
    return false;
}

/// A loopback SMTP server; what it heard in clear and under TLS is kept apart.
struct TlsSmtpServer {
    explicit TlsSmtpServer(ServerPlan p)
        : plan(std::move(p)), peer([this](int fd) { serve(fd); })
    {
    }

    void serve(int fd)
    {
        std::string buffer;
        const Wire plain{[&](const std::string& marker) {
                             const size_t end =
                                 loopback::readUntil(fd, buffer, marker, 0, loopback::after(loopback::kWaitMs));
                             const std::string got = buffer.substr(0, end == std::string::npos ? buffer.size() : end);
                             buffer.erase(0, got.size());
                             return got;
                         },
                         [&](const std::string& text) { loopback::sendAll(fd, text); }};
        if (!plan.implicit) {
            plain.write("220 mx.test ready\r\n");
            if (!Converse(plain, plan, false, clearHeard))
                return;
            std::string ignored;
            switch (plan.after) {
            case AfterGoAhead::Handshake: break;
            case AfterGoAhead::Garbage:
                plain.write("250 this is not what TLS looks like\r\n");
                loopback::readSome(fd, ignored, loopback::after(loopback::kWaitMs));
                return;
            case AfterGoAhead::CloseInHandshake:
                loopback::readSome(fd, ignored, loopback::after(loopback::kWaitMs));  // the client's hello
                return;
            case AfterGoAhead::Stall:
                while (loopback::readSome(fd, ignored, loopback::after(loopback::kWaitMs), peer.stop())) {
                }
                return;
            }
        }
        SocketTlsServer tls(fd, *plan.certificate);
        if (!tls.handshake(plan.implicit ? "220 mx.test ready, encrypted\r\n" : ""))
            return;
        const Wire secure{[&](const std::string& marker) { return tls.readUntil(marker); },
                          [&](const std::string& text) { tls.write(text); }};
        Converse(secure, plan, true, secureHeard);
    }

    ServerPlan plan;
    std::string clearHeard;
    std::string secureHeard;
    loopback::Peer peer;  // last: its thread uses the members above
};

} // namespace tls_peer

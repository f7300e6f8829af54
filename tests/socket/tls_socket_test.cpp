// TolvanSocket under TLS against a loopback server played by OpenSSL: the reads, sends,
// events and limits of the clear hold unchanged, and every failure closes the connection.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "platform/library_access.h"
#include "platform/message_loop.h"
#include "recorder.h"
#include "socket/socket_impl.h"
#include "support/loopback_peer.h"
#include "support/tls_test_peer.h"
#include "tolmail/TolvanSocket.h"

using tolmail::TolvanSocket;
using tolmail::Variant;
using tls_peer::Pki;
using tls_peer::SocketTlsServer;
namespace result = tolmail::socket_result;

namespace {

tolmail::Ref<TolvanSocket> client(uint16_t port, const char* host = "127.0.0.1",
                                  std::shared_ptr<Recorder> events = nullptr)
{
    auto s = TolvanSocket::Create();
    if (events)
        s->Advise(events);
    s->Host(host);
    s->Port(port);
    s->TimeOut(10);
    s->TLSCAFile(Pki().caFile);
    return s;
}

/// Dispatches notifications without reading, until `done` or about `times` x 20 ms.
template <class Done> void pump(int times, Done done)
{
    for (int i = 0; i < times && !done(); ++i) {
        tolmail::platform::dispatchPending();
        tolmail::platform::waitForActivity(0.02);
    }
}

std::string line(TolvanSocket& s)
{
    std::string got;
    EXPECT_EQ(s.GetlnData(got), 0);
    return got;
}

int16_t send(TolvanSocket& s, const std::string& text)
{
    return s.senddta(Variant(text)).get<int16_t>();
}

std::string pattern(size_t size)
{
    std::string bytes(size, '\0');
    std::mt19937 random(static_cast<unsigned>(size));
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

/// Reads until the client closes; false when it did not within the peer's wait.
bool clientCloses(int fd)
{
    std::string ignored;
    const auto deadline = loopback::after(loopback::kWaitMs);
    while (loopback::readSome(fd, ignored, deadline)) {
    }
    return loopback::Clock::now() < deadline;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(SocketTls, StartTlsCarriesLinesAndBlocksBothWaysAndClosesWithCloseNotify)
{
    struct Case {
        int serverVersion;
        const char* host;
    } cases[] = {{TLS1_3_VERSION, "localhost"}, {TLS1_2_VERSION, "127.0.0.1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        std::string heard;
        bool closeNotified = false;
        loopback::Peer server([&](int fd) {
            // A line smuggled in behind the go-ahead must not pass for the server's under TLS.
            loopback::sendAll(fd, "220 ready\r\n");
            std::string command;
            loopback::readUntil(fd, command, "\r\n", 0, loopback::after(loopback::kWaitMs));
            loopback::sendAll(fd, "220 go ahead\r\n250 smuggled\r\n");
            SocketTlsServer tls(fd, Pki().good, c.serverVersion);
            if (!tls.handshake())
                return;
            tls.write("250 encrypted\r\n");
            heard = tls.readUntil("\r\n");
            tls.write("a block");
            heard += tls.readUntil("QUIT\r\n");
            tls.write("221 bye\r\n");
            closeNotified = tls.waitForClose() && tls.closeNotified();
        });
        auto s = client(server.port(), c.host);
        ASSERT_EQ(s->Connect(), 0);
        EXPECT_EQ(line(*s), "220 ready\r\n");
        EXPECT_FALSE(s->Encrypted());
        EXPECT_EQ(send(*s, "STARTTLS\r\n"), 0);
        EXPECT_EQ(line(*s), "220 go ahead\r\n");
        ASSERT_EQ(s->StartTLS(), 0) << s->TLSError();
        EXPECT_TRUE(s->Encrypted());
        EXPECT_EQ(s->TLSError(), "");
        EXPECT_EQ(s->StartTLS(), 0) << "a second start changes nothing";
        EXPECT_EQ(line(*s), "250 encrypted\r\n");
        EXPECT_EQ(send(*s, "EHLO client.test\r\n"), 0);
        std::string block;
        EXPECT_EQ(s->GetData(block, 7), 0);
        EXPECT_EQ(block, "a block");
        EXPECT_EQ(send(*s, "QUIT\r\n"), 0);
        EXPECT_EQ(line(*s), "221 bye\r\n");
        s->CloseSocket();
        EXPECT_FALSE(s->Encrypted());
        server.join();
        EXPECT_EQ(heard, "EHLO client.test\r\nQUIT\r\n");
        EXPECT_TRUE(closeNotified);
    }
}

TEST(SocketTls, ImplicitTlsAtConnectAndAGreetingInTheHandshakesLastSegment)
{
    // A TLS 1.2 server ends the handshake: its greeting can come in the same segment, and
    // then the system has nothing more to report. A TLS 1.3 one sends it after.
    for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
        SCOPED_TRACE(version);
        const std::string greeting = "+OK ready\r\n";
        loopback::Peer server([&](int fd) {
            SocketTlsServer tls(fd, Pki().good, version);
            if (tls.handshake(greeting))
                tls.readUntil("QUIT\r\n");
        });
        auto events = std::make_shared<Recorder>();
        auto s = client(server.port(), "localhost", events);
        s->ImplicitTLS(true);
        s->TimeOut(3);
        ASSERT_EQ(s->Connect(), 0) << s->TLSError();
        EXPECT_TRUE(s->Encrypted());
        pump(50, [&] { return events->count("data") > 0; });
        ASSERT_EQ(events->dataLengths, std::vector<int>{static_cast<int>(greeting.size())});
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(line(*s), greeting);
        EXPECT_LT(secondsSince(start), 1.0);
        EXPECT_EQ(send(*s, "QUIT\r\n"), 0);
    }
}

TEST(SocketTls, FourMebibytesEachWayArriveIntactThroughTheSpillFile)
{
    const std::string down = pattern(4 << 20);
    const std::string up = pattern((4 << 20) + 1);
    bool upIntact = false;
    std::atomic<bool> allSent{false};
    loopback::Peer server([&](int fd) {
        SocketTlsServer tls(fd, Pki().good);
        if (!tls.handshake())
            return;
        upIntact = tls.readCount(up.size()) == up;
        tls.write(down);
        allSent = true;
        tls.waitForClose();
    });
    auto s = client(server.port());
    s->ImplicitTLS(true);
    ASSERT_EQ(s->Connect(), 0) << s->TLSError();
    EXPECT_EQ(send(*s, up), 0);
    // Nothing is read while it comes: the receive buffer must move it to its file.
    auto& info = *tolmail::LibraryAccess::impl(*s).ReceiveInfo;
    pump(1000, [&] { return allSent && info.Spilling(); });
    pump(10, [] { return false; });
    EXPECT_TRUE(info.Spilling());
    std::string got, piece;
    while (got.size() < down.size() && s->GetData(piece) == 0)
        got += piece;
    EXPECT_EQ(got.size(), down.size());
    EXPECT_TRUE(got == down);
    s->CloseSocket();
    server.join();
    EXPECT_TRUE(upIntact);
}

TEST(SocketTls, ALineOverTheLimitIsDroppedAsInTheClear)
{
    loopback::Peer server([&](int fd) {
        SocketTlsServer tls(fd, Pki().good);
        if (tls.handshake())
            tls.write(std::string(tolmail::socket_limit::LongestLine + 1, 'x') + "\r\nnext\r\n");
        tls.waitForClose();
    });
    auto s = client(server.port());
    s->ImplicitTLS(true);
    ASSERT_EQ(s->Connect(), 0) << s->TLSError();
    std::string got = "stale";
    EXPECT_EQ(s->GetlnData(got), result::LineTooLong);
    EXPECT_EQ(got, "");
    EXPECT_EQ(line(*s), "next\r\n");
}

TEST(SocketTls, RefusedCertificatesFailAndCloseUnlessVerificationIsSkipped)
{
    struct Case {
        const char* what;
        const tls_peer::Credential& credential;
        bool skip;
        int32_t expected;
        std::string error;
    } cases[] = {
        {"other host", Pki().otherHost, false, result::TlsFailed,
         "certificate verification failed: the certificate is for another host name (wanted 127.0.0.1)"},
        {"unknown issuer", Pki().unknownIssuer, false, result::TlsFailed,
         "certificate verification failed: the certificate was not issued by a trusted authority"},
        {"other host, skipped", Pki().otherHost, true, result::Ok, ""},
        {"unknown issuer, skipped", Pki().unknownIssuer, true, result::Ok, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool clientClosed = false;
        loopback::Peer server([&](int fd) {
            SocketTlsServer tls(fd, c.credential);
            tls.handshake();
            clientClosed = tls.waitForClose();
        });
        auto s = client(server.port());
        s->ImplicitTLS(true);
        s->TLSSkipVerification(c.skip);
        EXPECT_EQ(s->Connect(), c.expected);
        EXPECT_EQ(s->TLSError().substr(0, c.error.size()), c.error);
        EXPECT_EQ(s->Connected(), c.expected == result::Ok);
        EXPECT_EQ(s->Encrypted(), c.expected == result::Ok);
        s->CloseSocket();
        server.join();
        EXPECT_TRUE(clientClosed);
    }
}

TEST(SocketTls, ServersThatBreakTheHandshakeFailWithinTheTimeOut)
{
    enum class Breaks { Closes, Stalls, AnswersInTheClear };
    struct Case {
        Breaks how;
        std::string error;
        double atLeast, atMost;
    } cases[] = {
        {Breaks::Closes, "TLS failed: the server closed the connection during the handshake", 0, 1},
        {Breaks::Stalls, "TLS failed: the server did not finish the handshake within the time-out", 0.9, 3},
        {Breaks::AnswersInTheClear, "TLS failed: the server did not answer in TLS", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        bool clientClosed = false;
        loopback::Peer server([&](int fd) {
            std::string hello;
            loopback::readSome(fd, hello, loopback::after(loopback::kWaitMs));
            if (c.how == Breaks::Closes)
                return;
            if (c.how == Breaks::AnswersInTheClear)
                loopback::sendAll(fd, "+OK POP3 server ready\r\n");
            clientClosed = clientCloses(fd);
        });
        auto s = client(server.port());
        s->ImplicitTLS(true);
        s->TimeOut(1);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(s->Connect(), result::TlsFailed);
        double took = secondsSince(start);
        EXPECT_GE(took, c.atLeast);
        EXPECT_LE(took, c.atMost);
        EXPECT_EQ(s->TLSError().substr(0, c.error.size()), c.error);
        EXPECT_FALSE(s->Connected());
        std::string got;
        EXPECT_EQ(s->GetlnData(got), result::NotConnected);
        server.join();
        EXPECT_EQ(clientClosed, c.how != Breaks::Closes);
    }
}

TEST(SocketTls, StartTlsFromTheSocketsOwnReadEventIsNotStarvedOfInput)
{
    // Inside its own read event the socket's notifications are held back.
    loopback::Peer server([&](int fd) {
        loopback::sendAll(fd, "220 go ahead\r\n");
        SocketTlsServer tls(fd, Pki().good);
        if (tls.handshake("hello\r\n"))
            tls.waitForClose();
    });
    struct Starter : Recorder {
        TolvanSocket* socket = nullptr;
        int32_t started = -1;
        double took = 0;
        void OnRecvData(int32_t length, int32_t port, const std::string& address) override
        {
            Recorder::OnRecvData(length, port, address);
            if (started != -1)
                return;
            std::string ignored;
            socket->GetlnData(ignored);
            auto start = std::chrono::steady_clock::now();
            started = socket->StartTLS();
            took = secondsSince(start);
        }
    };
    auto events = std::make_shared<Starter>();
    auto s = client(server.port(), "127.0.0.1", events);
    events->socket = s.get();
    ASSERT_EQ(s->Connect(), 0);
    pump(250, [&] { return events->count("data") > 1; });
    EXPECT_EQ(events->started, 0) << s->TLSError();
    EXPECT_LT(events->took, 2.0);
    EXPECT_EQ(line(*s), "hello\r\n");
}

TEST(SocketTls, StartTlsNeedsAnOpenStreamConnection)
{
    auto s = TolvanSocket::Create();
    EXPECT_EQ(s->StartTLS(), result::NotConnected);
    EXPECT_FALSE(s->Encrypted());
    EXPECT_EQ(s->TLSError(), "");
}

TEST(SocketTls, EventsForTextAndForTheServersCloseNotifyAreThoseOfTheClear)
{
    loopback::Peer server([&](int fd) {
        SocketTlsServer tls(fd, Pki().good);
        if (!tls.handshake())
            return;
        tls.write("hello\r\n");
        tls.readUntil("ok\r\n");
        tls.write("last\r\n");
        tls.closeNotify();  // and the connection stays open: the client must end it
        tls.waitForClose();
    });
    auto events = std::make_shared<Recorder>();
    auto s = client(server.port(), "127.0.0.1", events);
    s->ImplicitTLS(true);
    ASSERT_EQ(s->Connect(), 0) << s->TLSError();
    pump(250, [&] { return events->count("data") > 0; });
    EXPECT_EQ(line(*s), "hello\r\n");
    EXPECT_EQ(send(*s, "ok\r\n"), 0);
    pump(250, [&] { return events->count("close") > 0; });
    EXPECT_EQ(events->events, (std::vector<std::string>{"connect", "data", "data", "data", "close"}));
    EXPECT_EQ(events->dataLengths, (std::vector<int>{7, 6, 0}));
    EXPECT_EQ(events->senderPorts[0], server.port());
    EXPECT_EQ(events->senderAddresses[0], "127.0.0.1");
    EXPECT_FALSE(s->Connected());
    EXPECT_EQ(line(*s), "last\r\n") << "what came before the close is still read";
    std::string got;
    EXPECT_EQ(s->GetlnData(got), result::NotConnected);
}

} // namespace

// TolvanSocket as a server: Listen, the accept event, Accept, and datagrams.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <algorithm>

#include "platform/message_loop.h"
#include "recorder.h"
#include "socket/socket_layer.h"
#include "support/loopback_peer.h"
#include "tolmail/TolvanSocket.h"

using tolmail::TolvanSocket;
using tolmail::Variant;

namespace {

void pumpUntil(const std::function<bool()>& done, int maxMs = 5000)
{
    for (int waited = 0; waited < maxMs && !done(); waited += 20) {
        tolmail::platform::dispatchPending();
        tolmail::platform::waitForActivity(0.02);
    }
}

/// A datagram socket bound to a free loopback port.
int boundDatagramSocket()
{
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback::address(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

/// Receives one datagram on fd, answers `reply` to its sender and returns what came.
std::string answerDatagram(int fd, const std::string& reply)
{
    EXPECT_TRUE(loopback::readable(fd, 5000));
    char buffer[64];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
    ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    return std::string(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
}

/// A component listening on a free port whose accept event calls `onAccept`.
struct Listening {
    uint16_t port;
    tolmail::Ref<TolvanSocket> socket = TolvanSocket::Create();
    std::shared_ptr<Recorder> events = std::make_shared<Recorder>();
    explicit Listening(std::function<void(int32_t)> onAccept, uint16_t port = loopback::freePort()) : port(port)
    {
        socket->LocalPort(port);
        EXPECT_EQ(socket->Listen(), 0);
        events->onAccept = std::move(onAccept);
        socket->Advise(events);
    }
};

} // namespace

TEST(SocketListen, AcceptHandsTheConnectionToASecondComponent)
{
    tolmail::Ref<TolvanSocket> accepted;
    auto acceptedEvents = std::make_shared<Recorder>();
    bool connectedInsideOnConnect = true;
    struct ConnectProbe : tolmail::TolvanSocketEvents {
        std::function<void()> fn;
        void OnConnect() override { fn(); }
    };
    Listening listening([&](int32_t socketID) {
        accepted = TolvanSocket::Create();
        accepted->Advise(acceptedEvents);
        auto probe = std::make_shared<ConnectProbe>();
        probe->fn = [&] { connectedInsideOnConnect = accepted->Connected(); };
        accepted->Advise(probe);
        EXPECT_EQ(accepted->Accept(socketID), -1);
    });
    auto& listener = listening.socket;
    EXPECT_TRUE(listener->Connected());
    EXPECT_EQ(listener->Listen(), 16);

    loopback::Client client(listening.port);
    ASSERT_TRUE(client.connected());
    pumpUntil([&] { return accepted != nullptr; });
    ASSERT_TRUE(accepted);
    EXPECT_EQ(listening.events->acceptedSocketID, listener->SocketHandle());
    EXPECT_TRUE(accepted->Connected());
    EXPECT_FALSE(connectedInsideOnConnect);
    EXPECT_EQ(acceptedEvents->count("connect"), 1);
    EXPECT_EQ(accepted->Port(), client.localPort());
    EXPECT_EQ(accepted->Host(), "127.0.0.1");
    EXPECT_EQ(accepted->Accept(listener->SocketHandle()), 32);

    // The accepted component talks on its own; the listener keeps listening.
    loopback::sendAll(client.fd(), "hello\r\n");
    std::string line;
    EXPECT_EQ(accepted->GetlnData(line), 0);
    EXPECT_EQ(line, "hello\r\n");
    EXPECT_EQ(accepted->senddta(Variant("back\r\n")), Variant(int16_t{0}));
    EXPECT_EQ(loopback::receive(client.fd(), 6, 5000), "back\r\n");
    EXPECT_TRUE(listener->Connected());

    ::shutdown(client.fd(), SHUT_RDWR);
    pumpUntil([&] { return !accepted->Connected(); });
    EXPECT_FALSE(accepted->Connected());
    EXPECT_EQ(acceptedEvents->events.back(), "close");
    EXPECT_TRUE(listener->Connected());
}

TEST(SocketListen, APortWhoseServerClosedAConnectionListensAgainAtOnce)
{
    uint16_t port = loopback::freePort();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        auto accepted = TolvanSocket::Create();
        Listening listening([&](int32_t socketID) { accepted->Accept(socketID); }, port);
        {
            loopback::Client client(port);
            pumpUntil([&] { return accepted->Connected(); });
            ASSERT_TRUE(accepted->Connected());
            accepted->CloseSocket();  // the server closes first: its side lingers in TIME_WAIT
            char c;
            ASSERT_TRUE(loopback::readable(client.fd(), 5000));
            EXPECT_EQ(::recv(client.fd(), &c, 1, 0), 0);
        }
    }
}

TEST(SocketRead, ANewConnectionStartsWithEmptyBuffers)
{
    const std::string greeting = "+OK fresh\r\n";
    using KeepAlive = std::shared_ptr<void>;
    struct Row {
        const char* how;
        std::function<KeepAlive(TolvanSocket&)> open;  // opens anew; the peer sends the greeting
    };
    const std::vector<Row> rows = {
        {"Connect",
         [&](TolvanSocket& s) -> KeepAlive {
             auto peer = std::make_shared<loopback::Peer>([&](int fd) {
                 loopback::sendAll(fd, greeting);
                 loopback::receive(fd, 1, 3000);
             });
             s.Port(peer->port());
             EXPECT_EQ(s.Connect(), 0);
             return peer;
         }},
        {"Accept",
         [&](TolvanSocket& s) -> KeepAlive {
             auto listening = std::make_shared<Listening>([&s](int32_t socketID) { EXPECT_EQ(s.Accept(socketID), -1); });
             auto client = std::make_shared<loopback::Client>(listening->port);
             pumpUntil([&] { return s.Connected(); });
             loopback::sendAll(client->fd(), greeting);
             return std::make_shared<std::pair<decltype(listening), decltype(client)>>(listening, client);
         }},
        {"a datagram socket",
         [&](TolvanSocket& s) -> KeepAlive {
             int receiver = boundDatagramSocket();
             s.SocketType(tolmail::IpProto::IPPROTO_UDP);
             s.Port(loopback::boundPort(receiver));
             EXPECT_EQ(s.senddta(Variant("?")), Variant(int16_t{0}));
             EXPECT_EQ(answerDatagram(receiver, greeting), "?");
             return KeepAlive(nullptr, [receiver](void*) { ::close(receiver); });
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.how);
        auto s = TolvanSocket::Create();
        s->Host("127.0.0.1");
        {
            // The first connection ends with a line and half of another.
            loopback::Peer first([](int fd) { loopback::sendAll(fd, "line\r\nhalf a li"); });
            s->Port(first.port());
            ASSERT_EQ(s->Connect(), 0);
            std::string line;
            EXPECT_EQ(s->GetlnData(line), 0);
            pumpUntil([&] { return !s->Connected(); });
            EXPECT_EQ(s->GetlnData(line), 6);  // half a line is no line
        }
        KeepAlive peer = row.open(*s);
        std::string line;
        EXPECT_EQ(s->GetlnData(line), 0);
        EXPECT_EQ(line, greeting);
        s->CloseSocket();
    }
}

TEST(SocketListen, RefusedListensAndAccepts)
{
    auto s = TolvanSocket::Create();
    EXPECT_EQ(s->Accept(-1), 10);
    EXPECT_EQ(s->Accept(123456), 10);  // not a socket

    int held = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback::address(0);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(held, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::listen(held, 1);
    s->LocalPort(loopback::boundPort(held));
    EXPECT_EQ(s->Listen(), 4);
    ::close(held);

    s->LocalPort(65535);
    EXPECT_EQ(s->Listen(), 4);
    EXPECT_FALSE(s->Connected());
    EXPECT_EQ(tolmail::socket::CurrentLayerState().registered, 0u);
    EXPECT_FALSE(tolmail::socket::CurrentLayerState().winsockStarted);
}

TEST(SocketDatagram, ABoundSocketReportsEachDatagramWithItsSender)
{
    auto s = TolvanSocket::Create();
    s->SocketType(tolmail::IpProto::IPPROTO_UDP);
    uint16_t port = loopback::freePort(SOCK_DGRAM);
    s->LocalPort(port);
    ASSERT_EQ(s->Listen(), 0);
    auto events = std::make_shared<Recorder>();
    s->Advise(events);

    int sender = boundDatagramSocket();
    sockaddr_in to = loopback::address(port);
    ::sendto(sender, "ping 1", 6, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    std::string text;
    EXPECT_EQ(s->GetData(text), 0);
    EXPECT_EQ(text, "ping 1");
    ASSERT_EQ(events->dataLengths.size(), 1u);
    EXPECT_EQ(events->dataLengths[0], 6);
    EXPECT_EQ(events->senderPorts[0], loopback::boundPort(sender));
    EXPECT_EQ(events->senderAddresses[0], "127.0.0.1");

    // Datagram boundaries are not kept: two join in the buffer.
    ::sendto(sender, "ab", 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::sendto(sender, "cd\r\n", 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    EXPECT_EQ(s->GetlnData(text), 0);
    EXPECT_EQ(text, "abcd\r\n");
    ::close(sender);
}

TEST(SocketDatagram, SendOpensAnUnboundSocketAndAnswersComeBack)
{
    int receiver = boundDatagramSocket();
    auto s = TolvanSocket::Create();
    s->SocketType(tolmail::IpProto::IPPROTO_UDP);
    s->Host("127.0.0.1");
    s->Port(loopback::boundPort(receiver));
    EXPECT_FALSE(s->Connected());
    EXPECT_EQ(s->senddta(Variant("query")), Variant(int16_t{0}));
    EXPECT_TRUE(s->Connected());

    EXPECT_EQ(answerDatagram(receiver, "answer"), "query");
    std::string text;
    EXPECT_EQ(s->GetData(text), 0);
    EXPECT_EQ(text, "answer");
    ::close(receiver);

    // Without broadcast permission the all-ones destination is refused: 9.
    s->TimeOut(1);
    s->Host("bad..name");  // refused by the resolver without asking any server
    EXPECT_EQ(s->senddta(Variant("x")), Variant(int16_t{9}));
}

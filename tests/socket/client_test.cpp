// TolvanSocket as a client against scripted loopback servers: connect, line and
// block reads, deadlines, sends, and closes.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/message_loop.h"
#include "recorder.h"
#include "socket/socket_layer.h"
#include "support/loopback_peer.h"
#include "tolmail/TolvanSocket.h"

using tolmail::TolvanSocket;
using tolmail::Variant;

namespace {

tolmail::Ref<TolvanSocket> connectTo(int port, int timeout = 5)
{
    auto s = TolvanSocket::Create();
    s->Host("127.0.0.1");
    s->Port(port);
    s->TimeOut(timeout);
    EXPECT_EQ(s->Connect(), 0);
    return s;
}

} // namespace

TEST(SocketProperties, DefaultsAndSetterRules)
{
    auto s = TolvanSocket::Create();
    EXPECT_EQ(s->LocalPort(), 25);
    EXPECT_FALSE(s->Broadcast());
    EXPECT_EQ(s->Host(), "127.0.0.0");
    EXPECT_EQ(s->Port(), 25);
    EXPECT_EQ(s->SocketType(), tolmail::IPPROTO_TCP);
    EXPECT_EQ(s->TimeOut(), 5);
    EXPECT_EQ(s->SocketHandle(), 0);
    EXPECT_FALSE(s->Connected());
    EXPECT_EQ(s->Version(), "1.10b");

    s->TimeOut(500);
    EXPECT_EQ(s->TimeOut(), 120);
    s->TimeOut(-5);
    EXPECT_EQ(s->TimeOut(), -5);
    s->SocketType(17);
    EXPECT_EQ(s->SocketType(), tolmail::IPPROTO_UDP);
    s->SocketType(3);
    EXPECT_EQ(s->SocketType(), tolmail::IPPROTO_TCP);
    s->Port(70000);  // stored without checks
    EXPECT_EQ(s->Port(), 70000);
}

TEST(SocketConnect, ConnectsRaisesOnConnectAndRefusesASecondConnect)
{
    loopback::Peer server([](int fd) { loopback::receive(fd, 1, 3000); });
    auto s = TolvanSocket::Create();
    auto events = std::make_shared<Recorder>();
    s->Advise(events);
    s->Host("127.0.0.1");
    s->Port(server.port());
    ASSERT_EQ(s->Connect(), 0);
    EXPECT_TRUE(s->Connected());
    EXPECT_GE(s->SocketHandle(), 3);
    EXPECT_EQ(events->count("connect"), 1);
    int handle = s->SocketHandle();
    EXPECT_EQ(s->Connect(), 3);
    EXPECT_EQ(s->SocketHandle(), handle);
    s->CloseSocket();
    EXPECT_FALSE(s->Connected());
    EXPECT_EQ(s->SocketHandle(), 0);
}

TEST(SocketConnect, RefusedAndImpossibleConnectsFailAtOnce)
{
    auto s = TolvanSocket::Create();
    s->Host("127.0.0.1");
    s->TimeOut(30);
    s->Port(loopback::freePort());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s->Connect(), 4);  // the refusal arrives as a notification, long before 30 s
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(s->Connected());
    EXPECT_EQ(s->SocketHandle(), 0);

    s->Port(65535);
    EXPECT_EQ(s->Connect(), 4);
    EXPECT_EQ(s->SocketHandle(), -1);
    EXPECT_FALSE(s->Connected());

    s->Port(25);
    s->Host("bad..name");  // refused by the resolver without asking any server
    EXPECT_EQ(s->Connect(), 4);
    s->Host("255.255.255.255");
    EXPECT_EQ(s->Connect(), 4);

    s->Host("127.0.0.1");
    s->SocketType(17);  // a stream socket with the datagram protocol: refused
    EXPECT_EQ(s->Connect(), 4);
    EXPECT_EQ(tolmail::socket::CurrentLayerState().registered, 0u);
}

TEST(SocketConnect, ConnectsByHostName)
{
    loopback::Peer server([](int fd) { loopback::sendAll(fd, "hi\r\n"); });
    auto s = TolvanSocket::Create();
    s->Host("localhost");
    s->Port(server.port());
    ASSERT_EQ(s->Connect(), 0);
    std::string line;
    EXPECT_EQ(s->GetlnData(line), 0);
    EXPECT_EQ(line, "hi\r\n");
}

TEST(SocketRead, LinesSplitAcrossSegmentsAndJoinedInOne)
{
    loopback::Peer server([](int fd) {
        loopback::sendAll(fd, "first line\r\nsecond ha");
        loopback::pause(300);
        loopback::sendAll(fd, "lf\r");
        loopback::pause(300);
        loopback::sendAll(fd, "\nthird\r\nrest");
        loopback::receive(fd, 1, 3000);
    });
    auto s = connectTo(server.port());
    std::string line;
    EXPECT_EQ(s->GetlnData(line), 0);
    EXPECT_EQ(line, "first line\r\n");
    EXPECT_EQ(s->GetlnData(line), 0);
    EXPECT_EQ(line, "second half\r\n");  // CR and LF in different segments
    EXPECT_EQ(s->GetlnData(line), 0);
    EXPECT_EQ(line, "third\r\n");
    // GetData hands out what GetlnData left first.
    std::string block;
    EXPECT_EQ(s->GetData(block), 0);
    EXPECT_EQ(block, "rest");
}

TEST(SocketRead, GetDataAppendsItsFirstTakeToWhatGetlnDataLeft)
{
    loopback::Peer server([](int fd) {
        loopback::sendAll(fd, "line\r\nabc");
        loopback::receive(fd, 1, 5000);  // until the client asks for more
        loopback::sendAll(fd, "defgh");
        loopback::receive(fd, 100, 3000);  // holds the connection until the client closes
    });
    auto s = connectTo(server.port());
    std::string text;
    ASSERT_EQ(s->GetlnData(text), 0);
    EXPECT_EQ(text, "line\r\n");
    s->TimeOut(1);
    EXPECT_EQ(s->GetlnData(text), 1);  // "abc" has no CR LF yet
    EXPECT_EQ(text, "");
    EXPECT_EQ(s->senddta(Variant("more")), Variant(int16_t{0}));
    EXPECT_EQ(s->GetData(text, 3), 0);
    EXPECT_EQ(text, "abcdef");  // what was left, then a counted take of 3
    EXPECT_EQ(s->GetData(text), 0);
    EXPECT_EQ(text, "gh");
}

TEST(SocketRead, NothingArrivingEndsInTimeOutWithResultOne)
{
    loopback::Peer server([](int fd) { loopback::receive(fd, 1, 4000); });
    auto s = connectTo(server.port(), 1);
    std::string text = "stale";
    EXPECT_EQ(s->GetlnData(text), 1);
    EXPECT_EQ(text, "");
    text = "stale";
    EXPECT_EQ(s->GetData(text), 1);
    EXPECT_EQ(text, "");
    s->TimeOut(-5);  // a single pass
    EXPECT_EQ(s->GetData(text), 1);
}

TEST(SocketRead, DataEverySecondKeepsATwoSecondWaitAlive)
{
    loopback::Peer server([](int fd) {
        for (int i = 0; i < 4; ++i) {
            loopback::pause(1000);
            loopback::sendAll(fd, "x");
        }
        loopback::sendAll(fd, "\r\n");
        loopback::receive(fd, 1, 3000);
    });
    auto s = connectTo(server.port(), 2);
    std::string line;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s->GetlnData(line), 0);
    EXPECT_EQ(line, "xxxx\r\n");
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3500));
}

TEST(SocketRead, NotConnectedReadsReturnSix)
{
    auto s = TolvanSocket::Create();
    std::string text = "stale";
    EXPECT_EQ(s->GetlnData(text), 6);
    EXPECT_EQ(text, "");
    EXPECT_EQ(s->GetData(text, 4), 6);
}

TEST(SocketRead, AReplyJustBeforeThePeerClosesIsNotLost)
{
    loopback::Peer server([](int fd) {
        loopback::receive(fd, 6, 5000);
        loopback::sendAll(fd, "+OK bye\r\n");
        ::shutdown(fd, SHUT_WR);
    });
    auto s = connectTo(server.port());
    auto events = std::make_shared<Recorder>();
    s->Advise(events);
    ASSERT_EQ(s->senddta(Variant("QUIT\r\n")), Variant(int16_t{0}));
    std::string line;
    ASSERT_EQ(s->GetlnData(line), 0);
    EXPECT_EQ(line, "+OK bye\r\n");
    // The close follows the data: once it is dispatched the component is closed.
    for (int i = 0; i < 50 && s->Connected(); ++i) {
        tolmail::platform::dispatchPending();
        tolmail::platform::waitForActivity(0.1);
    }
    EXPECT_FALSE(s->Connected());
    ASSERT_GE(events->events.size(), 2u);
    EXPECT_EQ(events->events.back(), "close");
    EXPECT_EQ(events->dataLengths.back(), 0);  // the last read found the peer's close
    EXPECT_EQ(s->GetlnData(line), 6);
}

TEST(SocketRead, AnEndlessLineComesInBoundedPieces)
{
    const std::string longLine(2 * 1024 * 1024 + 10, 'x');
    loopback::Peer server([&](int fd) {
        loopback::sendAll(fd, longLine + "\r\nnext\r\n");
        loopback::receive(fd, 1, 5000);  // hold the connection until the reader is done
    });
    auto s = connectTo(server.port());
    std::string piece;
    ASSERT_EQ(s->GetlnData(piece), 0);
    EXPECT_EQ(piece.size(), 1u << 20);
    ASSERT_EQ(s->GetlnData(piece), 0);
    EXPECT_EQ(piece.size(), 1u << 20);
    ASSERT_EQ(s->GetlnData(piece), 0);
    EXPECT_EQ(piece, std::string(10, 'x') + "\r\n");
    ASSERT_EQ(s->GetlnData(piece), 0);
    EXPECT_EQ(piece, "next\r\n");
    s->senddta(Variant("."));
}

TEST(SocketRead, TextThatArrivedBeforeThePeerClosedIsStillHandedOut)
{
    loopback::Peer server([](int fd) {
        loopback::sendAll(fd, "one\r\ntwo\r\nrest");
        ::shutdown(fd, SHUT_WR);
    });
    auto s = connectTo(server.port());
    // The close is handled before the reader gets round to the text.
    for (int i = 0; i < 50 && s->Connected(); ++i) {
        tolmail::platform::dispatchPending();
        tolmail::platform::waitForActivity(0.1);
    }
    ASSERT_FALSE(s->Connected());
    std::string text;
    EXPECT_EQ(s->GetlnData(text), 0);
    EXPECT_EQ(text, "one\r\n");
    EXPECT_EQ(s->GetData(text), 0);
    EXPECT_EQ(text, "two\r\nrest");
    EXPECT_EQ(s->GetData(text), 6);
    EXPECT_EQ(s->GetlnData(text), 6);
}

TEST(SocketSend, ClosedEmptyAndBinarySends)
{
    auto closed = TolvanSocket::Create();
    Variant result = closed->senddta(Variant("x"));
    ASSERT_TRUE(result.holds<int16_t>());
    EXPECT_EQ(result.get<int16_t>(), 6);

    std::string received;
    loopback::Peer server([&](int fd) { received = loopback::receive(fd, 260, 5000); });
    auto s = connectTo(server.port());
    EXPECT_EQ(s->senddta(Variant("")), Variant(int16_t{0}));
    tolmail::Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<uint8_t>(i));
    EXPECT_EQ(s->senddta(Variant(all)), Variant(int16_t{0}));
    EXPECT_EQ(s->senddta(Variant(int32_t{-12})), Variant(int16_t{0}));  // sent as its text
    loopback::pause(200);
    s->CloseSocket();
    server.join();
    ASSERT_EQ(received.size(), 259u);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(static_cast<uint8_t>(received[static_cast<size_t>(i)]), i);
    EXPECT_EQ(received.substr(256), "-12");
}

TEST(SocketSend, ALargeSendDeliversEveryByteWhileThePeerReadsSlowly)
{
    const size_t size = 8 * 1024 * 1024;
    std::string payload(size, '\0');
    for (size_t i = 0; i < size; ++i)
        payload[i] = static_cast<char>(i * 31 + (i >> 12));
    std::string received;
    loopback::Peer server([&](int fd) {
        loopback::pause(500);  // let the socket's buffers fill first
        received = loopback::receive(fd, size, 10000);
    });
    auto s = connectTo(server.port());
    EXPECT_EQ(s->senddta(Variant(payload)), Variant(int16_t{0}));
    server.join();
    EXPECT_EQ(received.size(), size);
    EXPECT_TRUE(received == payload);
}

TEST(SocketClose, DestroyingAConnectedComponentClosesItAndStopsTheLayer)
{
    std::atomic<bool> sawEnd{false};
    loopback::Peer server([&](int fd) {
        char c;
        sawEnd = loopback::readable(fd, 5000) && ::recv(fd, &c, 1, 0) <= 0;
    });
    {
        auto s = connectTo(server.port());
        EXPECT_TRUE(tolmail::socket::CurrentLayerState().winsockStarted);
    }
    auto state = tolmail::socket::CurrentLayerState();
    EXPECT_EQ(state.registered, 0u);
    EXPECT_FALSE(state.winsockStarted);
    EXPECT_FALSE(state.procInstalled);
    server.join();
    EXPECT_TRUE(sawEnd);
}

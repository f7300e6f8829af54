// TolvanSocket as a client against scripted loopback servers: connect, line and
// block reads, deadlines, sends, and closes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/message_loop.h"
#include "recorder.h"
#include "socket/socket_layer.h"
#include "support/loopback_peer.h"
#include "tolmail/TolvanSocket.h"

using tolmail::TolvanSocket;
using tolmail::Variant;

namespace {

/// A component connected to host:port, with `events` advised before the connect.
tolmail::Ref<TolvanSocket> connectTo(int port, int timeout = 5,
                                     std::shared_ptr<tolmail::TolvanSocketEvents> events = nullptr,
                                     const char* host = "127.0.0.1")
{
    auto s = TolvanSocket::Create();
    if (events)
        s->Advise(events);
    s->Host(host);
    s->Port(port);
    s->TimeOut(timeout);
    EXPECT_EQ(s->Connect(), 0);
    return s;
}

/// Dispatches notifications until the component has seen the peer's close (at most 5 s).
void pumpUntilClosed(TolvanSocket& s)
{
    for (int i = 0; i < 50 && s.Connected(); ++i) {
        tolmail::platform::dispatchPending();
        tolmail::platform::waitForActivity(0.1);
    }
}

} // namespace

TEST(SocketProperties, DefaultsAndSetterRules)
{
    auto s = TolvanSocket::Create();
    EXPECT_EQ(s->LocalPort(), 25);
    EXPECT_FALSE(s->Broadcast());
    EXPECT_EQ(s->Host(), "127.0.0.0");
    EXPECT_EQ(s->Port(), 25);
    EXPECT_EQ(s->SocketType(), tolmail::IpProto::IPPROTO_TCP);
    EXPECT_EQ(s->TimeOut(), 5);
    EXPECT_EQ(s->SocketHandle(), 0);
    EXPECT_FALSE(s->Connected());
    EXPECT_EQ(s->Version(), "1.10b");

    s->TimeOut(500);
    EXPECT_EQ(s->TimeOut(), 120);
    s->TimeOut(-5);
    EXPECT_EQ(s->TimeOut(), -5);
    s->SocketType(17);
    EXPECT_EQ(s->SocketType(), tolmail::IpProto::IPPROTO_UDP);
    s->SocketType(3);
    EXPECT_EQ(s->SocketType(), tolmail::IpProto::IPPROTO_TCP);
    s->Port(70000);  // stored without checks
    EXPECT_EQ(s->Port(), 70000);
}

TEST(SocketConnect, ConnectsByHostNameRaisesOnConnectAndRefusesASecondConnect)
{
    loopback::Peer server([](int fd) {
        loopback::sendAll(fd, "hi\r\n");
        loopback::receive(fd, 1, 3000);
    });
    auto events = std::make_shared<Recorder>();
    auto s = connectTo(server.port(), 5, events, "localhost");
    EXPECT_TRUE(s->Connected());
    std::string line;
    EXPECT_EQ(s->GetlnData(line), 0);
    EXPECT_EQ(line, "hi\r\n");
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

TEST(SocketRead, NotConnectedReadsAndSendsReturnSix)
{
    auto s = TolvanSocket::Create();
    std::string text = "stale";
    EXPECT_EQ(s->GetlnData(text), 6);
    EXPECT_EQ(text, "");
    EXPECT_EQ(s->GetData(text, 4), 6);
    Variant result = s->senddta(Variant("x"));
    ASSERT_TRUE(result.holds<int16_t>());
    EXPECT_EQ(result.get<int16_t>(), 6);
}

TEST(SocketRead, TextThatArrivedBeforeThePeerClosedIsNotLost)
{
    loopback::Peer server([](int fd) {
        loopback::receive(fd, 6, 5000);
        loopback::sendAll(fd, "+OK bye\r\none\r\ntwo\r\nrest");
        ::shutdown(fd, SHUT_WR);
    });
    auto events = std::make_shared<Recorder>();
    auto s = connectTo(server.port(), 5, events);
    ASSERT_EQ(s->senddta(Variant("QUIT\r\n")), Variant(int16_t{0}));
    std::string line;
    ASSERT_EQ(s->GetlnData(line), 0);
    EXPECT_EQ(line, "+OK bye\r\n");
    // The close follows the data: once it is dispatched the component is closed.
    pumpUntilClosed(*s);
    EXPECT_FALSE(s->Connected());
    ASSERT_GE(events->events.size(), 2u);
    EXPECT_EQ(events->events.back(), "close");
    EXPECT_EQ(events->dataLengths.back(), 0);  // the last read found the peer's close
    // What came before the close is still handed out after it was handled.
    EXPECT_EQ(s->GetlnData(line), 0);
    EXPECT_EQ(line, "one\r\n");
    EXPECT_EQ(s->GetData(line), 0);
    EXPECT_EQ(line, "two\r\nrest");
    EXPECT_EQ(s->GetData(line), 6);
    EXPECT_EQ(s->GetlnData(line), 6);
}

TEST(SocketRead, ALineOverTheLimitIsDroppedWholeAndTheNextLineFollows)
{
    const size_t limit = 1 << 20;
    const auto xs = [](size_t n) { return std::string(n, 'x'); };
    struct Row {
        const char* name;
        std::vector<std::string> segments;  // sent with a pause between
        int pauseMs;
        std::vector<std::pair<int, size_t>> reads;  // result and line length of each call
    };
    const std::vector<Row> rows = {
        {"just under", {xs(limit - 1) + "\r\n"}, 0, {{0, limit + 1}}},
        {"at the limit", {xs(limit) + "\r\n"}, 0, {{0, limit + 2}}},
        {"CR and LF apart at the limit", {xs(limit) + "\r", "\n"}, 300, {{0, limit + 2}}},
        {"one over", {xs(limit + 1) + "\r\n"}, 0, {{12, 0}}},
        {"one over, CR and LF apart", {xs(limit + 1) + "\r", "\n"}, 300, {{12, 0}}},
        {"three times over", {xs(3 * limit) + "\r\n"}, 0, {{12, 0}}},
        {"still arriving when a read times out", {xs(limit + limit / 2), xs(10) + "\r\n"}, 1600, {{1, 0}, {12, 0}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        loopback::Peer server([&](int fd) {
            for (size_t i = 0; i < row.segments.size(); ++i) {
                if (i > 0)
                    loopback::pause(row.pauseMs);
                loopback::sendAll(fd, row.segments[i]);
            }
            loopback::sendAll(fd, "next\r\n");
            loopback::receive(fd, 1, 5000);  // holds the connection until the reader is done
        });
        auto s = connectTo(server.port(), 1);
        std::string line = "stale";
        for (const auto& [code, length] : row.reads) {
            EXPECT_EQ(s->GetlnData(line), code);
            EXPECT_EQ(line.size(), length);
            EXPECT_EQ(line, length == 0 ? "" : xs(length - 2) + "\r\n");
        }
        EXPECT_EQ(s->GetlnData(line), 0);
        EXPECT_EQ(line, "next\r\n");
        s->senddta(Variant("."));
    }
}

TEST(SocketRead, APeerCloseEndsAWaitingReadAtOnceAfterWhatWasLeft)
{
    struct Row {
        const char* name;
        std::string sent;  // before the peer closes
        int dataLen;       // -1: GetlnData
        std::vector<std::string> reads;  // "result:text" of each call
    };
    const std::vector<Row> rows = {
        {"line read, half a line left", "half a li", -1, {"6:"}},
        {"line read, a line and a half left", "one\r\nhalf", -1, {"0:one\r\n", "6:"}},
        {"block read, nothing left", "", 0, {"6:"}},
        {"counted read, fewer than asked for", "abcd", 10, {"0:abcd", "6:"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        loopback::Peer server([&](int fd) {
            loopback::sendAll(fd, row.sent);
            loopback::pause(300);  // the reads are waiting by now
        });
        auto s = connectTo(server.port(), 10);
        auto start = std::chrono::steady_clock::now();
        std::vector<std::string> got;
        for (size_t i = 0; i < row.reads.size(); ++i) {
            std::string text;
            int code = row.dataLen < 0 ? s->GetlnData(text) : s->GetData(text, row.dataLen);
            got.push_back(std::to_string(code) + ":" + text);
        }
        EXPECT_EQ(got, row.reads);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
}

TEST(SocketEvents, ReadsInsideOnRecvDataNeitherNestNorSitOutTheTimeOut)
{
    const int lines = 2000;
    loopback::Peer server([&](int fd) {
        std::string text;
        for (int i = 0; i < lines; ++i)
            text += "line " + std::to_string(i) + std::string(90, '.') + "\r\n";
        for (size_t at = 0; at < text.size(); at += 1000)
            loopback::sendAll(fd, text.substr(at, 1000));
        loopback::sendAll(fd, "half a line");  // never ends
        loopback::receive(fd, 1, 10000);
    });
    struct Reader : tolmail::TolvanSocketEvents {
        TolvanSocket* socket = nullptr;
        int depth = 0;
        int deepest = 0;
        int lines = 0;
        void OnRecvData(int32_t, int32_t, const std::string&) override
        {
            deepest = std::max(deepest, ++depth);
            std::string line;
            while (socket->GetlnData(line) == 0)
                ++lines;
            --depth;
        }
    };
    auto reader = std::make_shared<Reader>();
    auto s = TolvanSocket::Create();
    reader->socket = s.get();
    s->Advise(reader);
    s->Host("127.0.0.1");
    s->Port(server.port());
    s->TimeOut(2);
    ASSERT_EQ(s->Connect(), 0);
    auto start = std::chrono::steady_clock::now();
    while (reader->lines < lines && std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
        tolmail::platform::dispatchPending();
        tolmail::platform::waitForActivity(0.05);
    }
    EXPECT_EQ(reader->lines, lines);
    EXPECT_EQ(reader->deepest, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    s->senddta(Variant("."));
}

TEST(SocketSend, EmptyBinaryAndNumberSends)
{
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
    EXPECT_TRUE(received == std::string(all.begin(), all.end()) + "-12");
}

TEST(SocketSend, APeerResetDuringALargeSendFailsItAndNothingGoesElsewhere)
{
    // Descriptor 0 becomes a socket of the test's: anything written there shows up.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    int savedStdin = ::dup(0);
    ::dup2(pair[0], 0);
    loopback::Peer server([](int fd) {
        loopback::receive(fd, 1 << 20, 5000);
        linger reset{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    });
    auto s = connectTo(server.port(), 2);
    Variant result = s->senddta(Variant(std::string(32 << 20, 'r')));
    char c;
    ssize_t leaked = ::recv(pair[1], &c, 1, MSG_DONTWAIT);
    ::dup2(savedStdin, 0);
    ::close(savedStdin);
    ::close(pair[0]);
    ::close(pair[1]);
    ASSERT_TRUE(result.holds<int16_t>());
    int16_t code = result.get<int16_t>();
    EXPECT_TRUE(code == 6 || code == 9) << code;
    EXPECT_EQ(leaked, -1);
}

TEST(SocketSend, ASendTimesOutOnlyWhenThePeerTakesNothingForTimeOut)
{
    std::string payload(16 << 20, '\0');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 31 + (i >> 12));
    struct Row {
        const char* name;
        int slowMs;  // reads 32 KiB every 100 ms this long, then the rest; -1: reads nothing
        int result;
        double minSeconds, maxSeconds;
    };
    const std::vector<Row> rows = {
        {"slow but steady reader", 4000, 0, 4, 30},
        {"reader that takes nothing", -1, 9, 0.8, 2.5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string received;
        loopback::Peer server([&](int fd) {
            loopback::pause(300);
            if (row.slowMs < 0) {
                loopback::pause(1500);
                return;
            }
            for (auto end = loopback::after(row.slowMs); loopback::Clock::now() < end; loopback::pause(100))
                received += loopback::receive(fd, 32 << 10, 1000);
            received += loopback::receive(fd, payload.size() - received.size(), 5000);
        });
        auto s = connectTo(server.port(), 1);
        // A send buffer that a slow reader takes many seconds to drain far enough for
        // the socket to be reported writable again.
        int large = 4 << 20;
        ::setsockopt(s->SocketHandle(), SOL_SOCKET, SO_SNDBUF, &large, sizeof large);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(s->senddta(Variant(payload)), Variant(int16_t(row.result)));
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_GT(took.count(), row.minSeconds);
        EXPECT_LT(took.count(), row.maxSeconds);
        server.join();  // before closing: a close resets, dropping what is still buffered
        EXPECT_EQ(received.size(), row.result == 0 ? payload.size() : 0);
        EXPECT_TRUE(row.result != 0 || received == payload);  // every byte, in order
    }
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

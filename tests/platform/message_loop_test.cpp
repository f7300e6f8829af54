// The per-thread message loop: host tasks, the pollable descriptor, and the
// re-enabling rules of socket notifications.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/message_loop.h"
#include "platform/net.h"
#include "tolmail/message_loop.h"

namespace platform = tolmail::platform;

namespace {

constexpr uint32_t kMessage = 1025;

struct Note {
    int32_t socket;
    int32_t event;
    int32_t error;
};
thread_local std::vector<Note> tNotes;
thread_local std::function<void(int32_t)> tHook;  // runs after a notification is noted

int32_t recordProc(uint32_t message, int32_t wParam, int32_t lParam)
{
    if (message != kMessage)
        return 0;
    tNotes.push_back({wParam, lParam & 0xFFFF, (lParam >> 16) & 0xFFFF});
    if (tHook)
        tHook(wParam);
    return 0;
}

bool descriptorReadable()
{
    pollfd p{tolmail::MessageLoopDescriptor(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

int count(int32_t event)
{
    int n = 0;
    for (const auto& note : tNotes)
        n += note.event == event;
    return n;
}

/// A plain TCP socket bound to a free loopback port; its port in network order.
int boundLoopback(uint16_t& port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = a.sin_port;
    return fd;
}

/// A platform socket of `type` with notifications asked for (`events`), its
/// connect to the loopback port (network order) begun; a connect is always pending.
int32_t connectingSocket(int32_t type, uint16_t port, int32_t events)
{
    int32_t s = platform::Socket(platform::kAfInet, type, 0);
    platform::AsyncSelect(s, kMessage, events);
    platform::SockAddrIn to;
    to.family = platform::kAfInet;
    to.port = port;
    to.addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(platform::ConnectTo(s, to), -1);
    EXPECT_EQ(platform::LastError(), 10035);
    return s;
}

// A connected pair: `ours` through the platform, `theirs` plain.
struct Pair {
    int32_t ours = -1;
    int theirs = -1;
    Pair()
    {
        uint16_t port;
        int listener = boundLoopback(port);
        ::listen(listener, 1);
        ours = connectingSocket(platform::kSockStream, port, 59);
        theirs = ::accept(listener, nullptr, nullptr);
        ::close(listener);
    }
    ~Pair()
    {
        platform::CloseSocketHandle(ours);
        ::close(theirs);
    }
};

void pumpFor(int ms)
{
    for (int i = 0; i < ms / 10; ++i) {
        platform::dispatchPending();
        platform::waitForActivity(0.01);
    }
}

class MessageLoop : public ::testing::Test {
protected:
    void SetUp() override
    {
        tNotes.clear();
        previous_ = platform::SetWindowProc(&recordProc);
    }
    void TearDown() override { platform::SetWindowProc(previous_); }
    platform::WindowProc previous_ = nullptr;
};

} // namespace

TEST_F(MessageLoop, HostTasksRunInsideTheNextDispatchInOrder)
{
    std::vector<int> ran;
    tolmail::PostHostTask([&] { ran.push_back(1); });
    tolmail::PostHostTask([&] {
        ran.push_back(2);
        tolmail::PostHostTask([&] { ran.push_back(3); });  // waits for the next pass
    });
    EXPECT_TRUE(descriptorReadable());
    tolmail::PumpMessages();
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_TRUE(descriptorReadable());
    tolmail::PumpMessages();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(descriptorReadable());
}

TEST_F(MessageLoop, ATaskThatThrowsLeavesTheRestQueuedAndVisible)
{
    bool later = false;
    tolmail::PostHostTask([] { throw std::runtime_error("host failure"); });
    tolmail::PostHostTask([&] { later = true; });
    EXPECT_THROW(tolmail::PumpMessages(), std::runtime_error);
    EXPECT_FALSE(later);
    EXPECT_TRUE(descriptorReadable());
    tolmail::PumpMessages();
    EXPECT_TRUE(later);
    EXPECT_FALSE(descriptorReadable());
}

TEST_F(MessageLoop, AHeldReadOutlivesATaskThatThrowsInTheSamePass)
{
    const int32_t socket = 4321;  // a posted notification needs no real socket
    {
        platform::SocketHold hold(socket);
        platform::PostSocketNotification(kMessage, socket, platform::FdRead);
        tolmail::PostHostTask([] { throw std::runtime_error("host failure"); });
        EXPECT_THROW(platform::dispatchPending(), std::runtime_error);
    }
    platform::dispatchPending();
    EXPECT_EQ(count(platform::FdRead), 1);
}

TEST_F(MessageLoop, AWaitWakesForAPostedTaskAndForASocket)
{
    tolmail::PostHostTask([] {});
    auto start = std::chrono::steady_clock::now();
    platform::waitForActivity(5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    tolmail::PumpMessages();

    Pair pair;
    pumpFor(100);
    tNotes.clear();
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::send(pair.theirs, "x", 1, 0);
    });
    start = std::chrono::steady_clock::now();
    platform::waitForActivity(5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    writer.join();
    EXPECT_TRUE(descriptorReadable());
    platform::dispatchPending();
    EXPECT_EQ(count(platform::FdRead), 1);
}

TEST_F(MessageLoop, ConnectThenWriteAreReportedOnce)
{
    Pair pair;
    pumpFor(100);
    EXPECT_EQ(count(platform::FdConnect), 1);
    EXPECT_EQ(count(platform::FdWrite), 1);
    EXPECT_EQ(tNotes.front().event, platform::FdConnect);
    EXPECT_EQ(tNotes.front().error, 0);
    // A renewed request posts a fresh write notification while the socket can take data.
    platform::AsyncSelect(pair.ours, kMessage, 59);
    pumpFor(50);
    EXPECT_EQ(count(platform::FdWrite), 2);
}

TEST_F(MessageLoop, AReadIsNotRepeatedUntilTheOwnerReceives)
{
    Pair pair;
    pumpFor(50);
    ::send(pair.theirs, "abc", 3, 0);
    pumpFor(100);
    EXPECT_EQ(count(platform::FdRead), 1);
    ::send(pair.theirs, "def", 3, 0);
    pumpFor(100);
    EXPECT_EQ(count(platform::FdRead), 1);
    char buffer[2];
    EXPECT_EQ(platform::Recv(pair.ours, buffer, 2), 2);
    pumpFor(50);
    EXPECT_EQ(count(platform::FdRead), 2);  // data remains after the receive
}

TEST_F(MessageLoop, CloseComesOnlyAfterEverythingSentBeforeItIsReceived)
{
    Pair pair;
    pumpFor(50);
    tNotes.clear();
    std::string big(100000, 'z');
    ::send(pair.theirs, big.data(), big.size(), 0);
    ::shutdown(pair.theirs, SHUT_WR);
    pumpFor(100);
    EXPECT_EQ(count(platform::FdClose), 0);  // unread data is still queued ahead of it
    size_t received = 0;
    char buffer[16384];
    for (int i = 0; i < 100 && count(platform::FdClose) == 0; ++i) {
        int32_t n = platform::Recv(pair.ours, buffer, sizeof buffer);
        if (n > 0)
            received += static_cast<size_t>(n);
        pumpFor(10);
    }
    EXPECT_EQ(received, big.size());
    EXPECT_EQ(count(platform::FdClose), 1);
    EXPECT_EQ(tNotes.back().event, platform::FdClose);
    EXPECT_EQ(tNotes.back().error, 0);
}

TEST_F(MessageLoop, RefusedAndAtOnceConnectsAreEachOneNotificationWithTheirError)
{
    uint16_t freePort;
    ::close(boundLoopback(freePort));
    for (const bool refused : {true, false}) {
        SCOPED_TRACE(refused ? "refused stream connect" : "datagram connect, complete inside the call");
        tNotes.clear();
        int32_t s = connectingSocket(refused ? platform::kSockStream : platform::kSockDgram,
                                     refused ? freePort : htons(9), 51);
        if (refused) {
            pumpFor(100);
        } else {
            EXPECT_TRUE(descriptorReadable());  // a host loop would wake for it
            platform::dispatchPending();
        }
        ASSERT_EQ(count(platform::FdConnect), 1);
        EXPECT_EQ(tNotes.front().error, refused ? 10061 : 0);
        EXPECT_TRUE(!refused || count(platform::FdWrite) == 0);
        platform::CloseSocketHandle(s);
    }
}

TEST_F(MessageLoop, ClosingDropsQueuedNotificationsOfThatSocket)
{
    Pair first;
    Pair second;
    pumpFor(100);
    tNotes.clear();
    // Both become readable in one pass; the first handler closes the other socket and
    // a new one takes its number, which must not receive the old socket's read.
    ::send(first.theirs, "x", 1, 0);
    ::send(second.theirs, "y", 1, 0);
    pumpFor(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int32_t closedNumber = -1;
    tHook = [&](int32_t socket) {
        Pair& other = socket == first.ours ? second : first;
        closedNumber = other.ours;
        platform::CloseSocketHandle(other.ours);
        other.ours = platform::Socket(platform::kAfInet, platform::kSockStream, 0);
        tHook = nullptr;
    };
    platform::dispatchPending();
    tHook = nullptr;
    ASSERT_NE(closedNumber, -1);
    int deliveredToClosed = 0;
    for (const auto& note : tNotes)
        deliveredToClosed += note.socket == closedNumber;
    EXPECT_EQ(deliveredToClosed, 0);
    EXPECT_EQ(tNotes.size(), 1u);
}

TEST_F(MessageLoop, AHeldSocketsReadsWaitWithoutWakingAnyWaitWhileItsWritesFlow)
{
    Pair pair;
    pumpFor(100);
    tNotes.clear();
    {
        platform::SocketHold hold(pair.ours);
        EXPECT_TRUE(platform::SocketHeld(pair.ours));
        ::send(pair.theirs, "x", 1, 0);
        platform::AsyncSelect(pair.ours, kMessage, 59);  // asks for a write notification
        pumpFor(100);
        EXPECT_EQ(count(platform::FdWrite), 1);
        EXPECT_EQ(count(platform::FdRead), 0);
        // Nothing deliverable is pending: a wait blocks instead of spinning.
        auto start = std::chrono::steady_clock::now();
        platform::waitForActivity(0.2);
        EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    }
    EXPECT_FALSE(platform::SocketHeld(pair.ours));
    EXPECT_TRUE(descriptorReadable());  // a host loop wakes for what was held
    platform::dispatchPending();
    EXPECT_EQ(count(platform::FdRead), 1);
}

TEST(YieldPoint, DoesNothingOnAThreadWithoutALoop)
{
    std::thread([] {
        for (int i = 0; i < 1000; ++i)
            platform::yieldPoint();
    }).join();
}

TEST(YieldPoint, DeliversDueTasksWithinAFewMilliseconds)
{
    bool ran = false;
    tolmail::PostHostTask([&] { ran = true; });
    auto start = std::chrono::steady_clock::now();
    while (!ran && std::chrono::steady_clock::now() - start < std::chrono::seconds(2))
        platform::yieldPoint();
    EXPECT_TRUE(ran);
}

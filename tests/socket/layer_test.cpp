// The per-thread socket layer: start-up and clean-up, routing between components,
// and the receive buffer's spill file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/library_access.h"
#include "platform/local_time.h"
#include "platform/message_loop.h"
#include "recorder.h"
#include "socket/socket_impl.h"
#include "socket/socket_layer.h"
#include "support/loopback_peer.h"

using tolmail::TolvanSocket;
using tolmail::Variant;
using tolmail::socket::CurrentLayerState;

namespace {

bool exists(const std::string& path)
{
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

tolmail::Ref<TolvanSocket> connectTo(int port, std::shared_ptr<Recorder> events = nullptr)
{
    auto s = TolvanSocket::Create();
    if (events)
        s->Advise(events);  // before connecting: data may come during another's connect
    s->Host("127.0.0.1");
    s->Port(port);
    EXPECT_EQ(s->Connect(), 0);
    return s;
}

tolmail::socket::SocketInfo& infoOf(TolvanSocket& s)
{
    return *tolmail::LibraryAccess::impl(s).ReceiveInfo;
}

/// Dispatches notifications `times` times without reading, or until `done`.
void pump(int times, const std::function<bool()>& done = [] { return false; })
{
    for (int i = 0; i < times && !done(); ++i) {
        tolmail::platform::dispatchPending();
        tolmail::platform::waitForActivity(0.02);
    }
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(SocketLayer, GoesUpWithTheFirstSocketAndDownWithTheLastRepeatedly)
{
    for (int round = 0; round < 3; ++round) {
        loopback::Peer a([](int fd) { loopback::receive(fd, 1, 3000); });
        loopback::Peer b([](int fd) { loopback::receive(fd, 1, 3000); });
        EXPECT_FALSE(CurrentLayerState().winsockStarted);
        EXPECT_FALSE(CurrentLayerState().procInstalled);
        auto first = connectTo(a.port());
        auto second = connectTo(b.port());
        EXPECT_EQ(CurrentLayerState().registered, 2u);
        EXPECT_TRUE(CurrentLayerState().procInstalled);
        tolmail::socket::LayerState other;  // another thread has a layer of its own
        std::thread([&] { other = CurrentLayerState(); }).join();
        EXPECT_EQ(other.registered, 0u);
        EXPECT_FALSE(other.winsockStarted);
        first->CloseSocket();
        EXPECT_TRUE(CurrentLayerState().winsockStarted);  // one is left
        second->CloseSocket();
        EXPECT_EQ(CurrentLayerState().registered, 0u);
        EXPECT_FALSE(CurrentLayerState().winsockStarted);
        EXPECT_FALSE(CurrentLayerState().procInstalled);
    }
}

TEST(SocketLayer, EachComponentGetsOnlyItsOwnNotifications)
{
    loopback::Peer a([](int fd) {
        loopback::sendAll(fd, "for a\r\n");
        loopback::receive(fd, 1, 3000);
    });
    loopback::Peer b([](int fd) {
        loopback::pause(200);
        loopback::sendAll(fd, "for b, longer\r\n");
        loopback::receive(fd, 1, 3000);
    });
    auto firstEvents = std::make_shared<Recorder>();
    auto secondEvents = std::make_shared<Recorder>();
    auto first = connectTo(a.port(), firstEvents);
    auto second = connectTo(b.port(), secondEvents);
    std::string line;
    ASSERT_EQ(second->GetlnData(line), 0);  // its wait also dispatches a's notifications
    EXPECT_EQ(line, "for b, longer\r\n");
    ASSERT_EQ(first->GetlnData(line), 0);
    EXPECT_EQ(line, "for a\r\n");
    EXPECT_EQ(firstEvents->count("connect"), 1);
    EXPECT_EQ(secondEvents->count("connect"), 1);
    EXPECT_EQ(firstEvents->dataLengths, std::vector<int>{7});
    EXPECT_EQ(secondEvents->dataLengths, std::vector<int>{15});
    EXPECT_EQ(firstEvents->senderPorts, std::vector<int>{a.port()});
    EXPECT_EQ(firstEvents->senderAddresses, std::vector<std::string>{"127.0.0.1"});
}

TEST(SocketBuffer, AHundredThousandUnreadCharactersSpillAndReadBackInOrder)
{
    const size_t size = 100000;
    std::string payload(size, '\0');
    for (size_t i = 0; i < size; ++i)
        payload[i] = static_cast<char>('A' + (i * 7) % 26);
    loopback::Peer server([&](int fd) {
        loopback::sendAll(fd, payload);
        loopback::receive(fd, 1, 5000);
    });
    auto s = connectTo(server.port());
    auto& info = infoOf(*s);
    pump(200, [&] { return info.Spilling(); });  // every notification in, nothing taken out
    ASSERT_TRUE(info.Spilling());
    std::string spill = info.SpillFileName();
    EXPECT_TRUE(exists(spill));
    struct stat st{};
    ASSERT_EQ(::stat(spill.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // readable by its owner only
    pump(20);
    std::string all;
    std::string piece;
    while (all.size() < size && s->GetData(piece) == 0)
        all += piece;
    EXPECT_EQ(all.size(), size);
    EXPECT_TRUE(all == payload);
    EXPECT_FALSE(info.Spilling());
    EXPECT_FALSE(exists(spill));
}

TEST(SocketBuffer, TextAlreadyInTheSpillFileIsTakenWithoutWaiting)
{
    const std::string line = std::string(200000, 'L') + "\r\n";
    for (bool counted : {false, true}) {
        SCOPED_TRACE(counted ? "GetData with a count" : "GetlnData");
        loopback::Peer server([&](int fd) {
            loopback::sendAll(fd, line + "tail");
            loopback::receive(fd, 1, 5000);
        });
        auto s = connectTo(server.port());
        s->TimeOut(3);
        pump(25);  // everything arrives, most of it into the spill file, before anything is read
        ASSERT_TRUE(infoOf(*s).Spilling());
        auto start = std::chrono::steady_clock::now();
        std::string got;
        EXPECT_EQ(counted ? s->GetData(got, static_cast<int32_t>(line.size())) : s->GetlnData(got), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_TRUE(got == line) << got.size();
        EXPECT_EQ(s->GetData(got), 0);
        EXPECT_TRUE(got == "tail") << got.size();
        s->senddta(Variant("."));
    }
}

TEST(SocketBuffer, ASpillNameThatIsTakenIsNeverWrittenThrough)
{
    tolmail::socket::SocketInfo info;
    info.intSocket(-7);
    // Plant files under the next several names the tick count could give.
    std::string dir = tolmail::platform::TempDirectory();
    std::vector<std::string> planted;
    int32_t tick = tolmail::platform::TickCount();
    for (int i = 0; i < 8; ++i) {
        planted.push_back(dir + std::to_string(tick + i) + ".TMA");
        std::ofstream(planted.back(), std::ios::binary) << "planted";
    }
    std::string text(40000, 'q');
    info.BufStr(text, false);
    ASSERT_TRUE(info.Spilling());
    for (const auto& name : planted) {
        EXPECT_NE(info.SpillFileName(), name);
        EXPECT_EQ(fileText(name), "planted");
        tolmail::platform::RemoveFile(name);
    }
    std::string back;
    while (back.size() < text.size()) {
        std::string piece = info.BufStr();
        if (piece.empty())
            break;
        back += piece;
    }
    EXPECT_EQ(back, text);
}

TEST(SocketBuffer, WithoutASpillFileTheTextStaysInMemory)
{
    const char* saved = ::getenv("TMPDIR");
    std::string savedValue = saved ? saved : "";
    ::setenv("TMPDIR", "/nonexistent-tolmail-dir/", 1);
    tolmail::socket::SocketInfo info;
    std::string text;
    for (int i = 0; i < 5; ++i) {
        std::string chunk(16384, static_cast<char>('a' + i));
        info.BufStr(chunk, false);
        text += chunk;
    }
    if (saved)
        ::setenv("TMPDIR", savedValue.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_FALSE(info.Spilling());
    EXPECT_EQ(info.BufStr(), text);
}

TEST(SocketBuffer, CountedTakeWaitsForTheRestAndKeepsTheOverflow)
{
    loopback::Peer server([](int fd) {
        loopback::sendAll(fd, "0123");
        loopback::pause(400);
        loopback::sendAll(fd, "456789abcdefghijklmn");
        loopback::receive(fd, 1, 5000);
    });
    auto s = connectTo(server.port());
    auto& info = infoOf(*s);
    EXPECT_EQ(info.GetBufStr(10), "0123456789");
    for (int i = 0; i < 5; ++i)
        tolmail::platform::dispatchPending();
    EXPECT_EQ(info.BufStr(), "abcdefghijklmn");
}

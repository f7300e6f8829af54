// Runs under Wine against a loopback peer on the Linux side (tests/windows/peer.py):
// a TolvanSocket connects, talks and reads a large body through the system's own
// notifications, while the thread's other windows and host tasks keep being served.
//   socket_smoke PORT CLOSED_PORT
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "check.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/message_loop.h"
#include "tolmail/variant.h"
// After the public headers: Winsock defines IPPROTO_TCP and IPPROTO_UDP as numbers, which
// would break the socket type's enumerators of the same names.
#include "platform/win32/windows_api.h"

using namespace tolmail;
using windows_test::check;

namespace {

struct Recorder : TolvanSocketEvents {
    int connects = 0, recvs = 0, closes = 0;
    void OnConnect() override { ++connects; }
    void OnRecvData(int32_t, int32_t, const std::string&) override { ++recvs; }
    void OnCloseConnection() override { ++closes; }
};

// A window of the host's own: its messages must be dispatched inside the library's waits.
int hostMessages = 0;
constexpr UINT kHostMessage = WM_APP + 7;

LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kHostMessage) {
        ++hostMessages;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeHostWindow()
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = hostWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "SmokeHostWindow";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

void exchange(int port)
{
    auto socket = TolvanSocket::Create();
    auto events = std::make_shared<Recorder>();
    socket->Advise(events);
    socket->Host("127.0.0.1");
    socket->Port(port);
    socket->TimeOut(10);

    HWND host = makeHostWindow();
    PostMessageA(host, kHostMessage, 0, 0);
    bool taskRan = false;
    PostHostTask([&taskRan] { taskRan = true; });

    check(socket->Connect() == 0, "Connect to the loopback peer");
    check(events->connects == 1, "OnConnect raised once");

    std::string line;
    check(socket->GetlnData(line) == 0 && line == "220 ready\r\n", "greeting read as one line");
    check(hostMessages == 1, "a host window's message is dispatched inside the wait");
    check(taskRan, "a host task runs inside the wait");

    Variant sent = socket->senddta(Variant(std::string("HELLO smoke\r\n")));
    check(sent.toNumber() == 0, "senddta of one line");
    check(socket->GetlnData(line) == 0 && line == "250 got HELLO smoke\r\n", "reply read as one line");

    // The body then the peer's close: everything sent before the close must arrive.
    std::string body, chunk;
    while (body.size() < 300005 && socket->GetData(chunk) == 0)
        body += chunk;
    check(body.size() == 300005 && body.compare(body.size() - 5, 5, "BYE\r\n") == 0,
          "the whole body arrives before the close (" + std::to_string(body.size()) + " bytes)");
    check(events->recvs > 0, "OnRecvData raised");

    // The close is reported once everything was read.
    for (int i = 0; i < 100 && events->closes == 0; ++i)
        socket->GetData(chunk);
    check(events->closes == 1, "OnCloseConnection raised once");
    check(!socket->Connected(), "closed after the peer's close");
    DestroyWindow(host);
}

void refused(int closedPort)
{
    auto socket = TolvanSocket::Create();
    auto events = std::make_shared<Recorder>();
    socket->Advise(events);
    socket->Host("127.0.0.1");
    socket->Port(closedPort);
    socket->TimeOut(5);
    const int32_t rc = socket->Connect();
    check(rc == 4, "Connect to a port where nothing listens gives 4 (got " + std::to_string(rc) + ")");
    check(events->connects == 0, "no OnConnect for a refused connection");
}


// Both ends in this process: the listener's accept notification arrives inside the
// connecting socket's wait, and the accepted socket inherits the select request.
struct AcceptInto : TolvanSocketEvents {
    Ref<TolvanSocket> target;
    int32_t result = 0;
    void OnAcceptConnection(int32_t& socketID) override { result = target->Accept(socketID); }
};

void listenAndAccept(int port)
{
    auto listener = TolvanSocket::Create();
    auto accepted = TolvanSocket::Create();
    auto onAccept = std::make_shared<AcceptInto>();
    onAccept->target = accepted;
    listener->Advise(onAccept);
    listener->LocalPort(port);
    check(listener->Listen() == 0, "Listen on a free loopback port");

    auto client = TolvanSocket::Create();
    client->Host("127.0.0.1");
    client->Port(port);
    client->TimeOut(10);
    check(client->Connect() == 0, "Connect to our own listener");
    for (int i = 0; i < 100 && onAccept->result == 0; ++i)
        PumpMessages(), Sleep(10);
    check(onAccept->result == -1, "Accept inside OnAcceptConnection takes the connection");

    check(client->senddta(Variant(std::string("ping\r\n"))).toNumber() == 0, "send to the accepted side");
    std::string line;
    accepted->TimeOut(10);
    check(accepted->GetlnData(line) == 0 && line == "ping\r\n", "the accepted socket reads it");
    client->CloseSocket();
    accepted->CloseSocket();
    listener->CloseSocket();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fputs("usage: socket_smoke PORT CLOSED_PORT\n", stderr);
        return 2;
    }
    exchange(std::atoi(argv[1]));
    refused(std::atoi(argv[2]));
    listenAndAccept(std::atoi(argv[2]));
    return windows_test::finish();
}

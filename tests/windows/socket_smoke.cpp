// Runs under Wine against a loopback peer on the Linux side (tests/windows/peer.py):
// a TolvanSocket connects, talks and reads a large body through the system's own
// notifications, while the thread's other windows and host tasks keep being served.
//   socket_smoke PORT CLOSED_PORT
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/local_time.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/message_loop.h"
#include "tolmail/variant.h"
// After the public headers: Winsock defines IPPROTO_TCP and IPPROTO_UDP as numbers, which
// would break the socket type's enumerators of the same names.
#include "platform/win32/windows_api.h"

using namespace tolmail;

namespace {

int failures = 0;

void check(bool ok, const std::string& what)
{
    std::printf("%s %s\n", ok ? "PASS" : "FAIL", what.c_str());
    failures += ok ? 0 : 1;
}

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

// The platform services the components rely on, on the system's own.
void platformServices()
{
    const std::string temp = platform::TempDirectory();
    check(!temp.empty() && temp.back() == '\\', "temporary directory ends with a backslash: " + temp);

    const platform::LocalTime now = platform::LocalNow();
    check(now.biasMinutes == platform::TimeZoneBiasMinutes(), "the date's zone is the zone in effect");
    check(platform::MailDateText(platform::LocalAt(0)).size() == 25, "mail date text has its fixed width");

    const std::string path = temp + "tolmail-smoke-" + std::to_string(GetCurrentProcessId());
    platform::FileResult result = -1;
    {
        platform::File first = platform::File::CreateNew(path, result);
        check(first.isOpen() && result == file_result::Ok, "exclusive create of a new name");
        check(first.write("abc", 3, result) && first.size() == 3, "write and size");
        platform::File second = platform::File::CreateNew(path, result);
        check(!second.isOpen() && result == file_result::Exists, "exclusive create of an existing name is refused");
    }
    check(platform::IsNormalFile(path), "the created file counts as a normal file");
    check(!platform::IsNormalFile(temp), "a directory does not");
    check(platform::RemoveFile(path) == file_result::Ok, "remove");
    platform::File missing = platform::File::OpenRead(path, result);
    check(!missing.isOpen() && result == file_result::PathNotFound, "a removed file is not found");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: socket_smoke PORT CLOSED_PORT\n");
        return 2;
    }
    platformServices();
    exchange(std::atoi(argv[1]));
    refused(std::atoi(argv[2]));
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}

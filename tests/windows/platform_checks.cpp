// Runs under Wine: the thread's message loop on the system's queue (ordering, holds,
// closing, bounded passes and waits) and the clock, zone and file services.
#include <string>
#include <vector>

#include "check.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "platform/message_loop.h"
#include "platform/net.h"
#include "tolmail/file_codes.h"
// Last: Winsock's macros must not reach the public headers' names.
#include "platform/win32/windows_api.h"

using namespace tolmail;
using windows_test::check;

namespace {

constexpr uint32_t kSocketMessage = WM_USER + 1;
constexpr uint32_t kOtherMessage = WM_USER + 2;

// What the window procedure received, as "message:wParam:event" entries.
std::vector<std::string> received;

int32_t recordingProc(uint32_t message, int32_t wParam, int32_t lParam)
{
    received.push_back(std::to_string(message) + ":" + std::to_string(wParam) + ":" + std::to_string(lParam));
    return 0;
}

std::string entry(uint32_t message, int32_t wParam, int32_t lParam)
{
    return std::to_string(message) + ":" + std::to_string(wParam) + ":" + std::to_string(lParam);
}

void postedMessagesAndTasks()
{
    received.clear();
    platform::PostWindowMessage(kOtherMessage, -7, 0x12345678);
    int runs = 0;
    // A task that posts itself again must not keep one pass going.
    std::function<void()> again = [&] {
        ++runs;
        platform::PostTask(again);
    };
    platform::PostTask(again);
    platform::dispatchPending();
    check(received == std::vector<std::string>{entry(kOtherMessage, -7, 0x12345678)},
          "a posted message reaches the procedure with its parameters, signs included");
    check(runs == 1, "a task posted inside a pass waits for the next pass");
    platform::dispatchPending();
    check(runs == 2, "... and runs there");
    // Leave nothing behind for the next case.
    again = [] {};
    platform::dispatchPending();
}

void holdsKeepReadsAndClosesBack()
{
    const int32_t s = platform::Socket(platform::kAfInet, platform::kSockStream, 0);
    check(s != platform::kInvalidSocket, "a socket for the hold cases");
    check(platform::AsyncSelect(s, kSocketMessage, platform::FdRead | platform::FdClose) == 0, "select request");
    received.clear();
    {
        platform::SocketHold hold(s);
        platform::PostSocketNotification(kSocketMessage, s, platform::FdRead);
        platform::PostSocketNotification(kSocketMessage, s, platform::FdWrite);
        platform::PostSocketNotification(kSocketMessage, s, platform::FdClose);
        platform::dispatchPending();
        check(received == std::vector<std::string>{entry(kSocketMessage, s, platform::FdWrite)},
              "under a hold only the write notification is delivered");
        check(platform::SocketHeld(s), "the socket reads as held");
    }
    platform::dispatchPending();
    check(received == std::vector<std::string>{entry(kSocketMessage, s, platform::FdWrite),
                                               entry(kSocketMessage, s, platform::FdRead),
                                               entry(kSocketMessage, s, platform::FdClose)},
          "after the hold the read and the close follow, in their order");

    // Closing drops what is still queued for the socket, held or not, and ends its holds.
    const int32_t other = platform::Socket(platform::kAfInet, platform::kSockStream, 0);
    platform::AsyncSelect(other, kSocketMessage, platform::FdRead);
    received.clear();
    platform::SocketHold hold(s);
    platform::PostSocketNotification(kSocketMessage, s, platform::FdRead);
    platform::dispatchPending();
    platform::PostSocketNotification(kSocketMessage, s, platform::FdWrite);
    platform::PostSocketNotification(kSocketMessage, other, platform::FdRead);
    platform::CloseSocketHandle(s);
    check(!platform::SocketHeld(s), "closing ends the socket's holds");
    platform::dispatchPending();
    check(received == std::vector<std::string>{entry(kSocketMessage, other, platform::FdRead)},
          "a closed socket's queued notifications are dropped, another socket's kept");
    platform::CloseSocketHandle(other);
}

void waitsEndOnActivity()
{
    const int32_t start = platform::TickCount();
    platform::waitForActivity(0.2);
    const int32_t quiet = platform::TickCount() - start;
    check(quiet >= 150 && quiet < 1000, "a quiet wait lasts its time (" + std::to_string(quiet) + " ms)");

    platform::PostTask([] {});
    const int32_t again = platform::TickCount();
    platform::waitForActivity(2.0);
    check(platform::TickCount() - again < 500, "a posted task ends the wait at once");
    platform::dispatchPending();
}

// The platform services the components rely on, on the system's own.
// A host's quit that arrives while a component waits belongs to the host's own loop: the
// component's waits must neither take it nor spin on it.
void aQuitIsLeftForTheHost()
{
    PostQuitMessage(3);
    const int32_t start = platform::TickCount();
    int passes = 0;
    for (int32_t spent = 0; spent < 300; spent = platform::TickCount() - start, ++passes) {
        platform::dispatchPending();
        platform::waitForActivity((300 - spent) / 1000.0);
    }
    check(passes < 20, "a waiting quit does not make waits spin (" + std::to_string(passes) + " passes)");

    bool ran = false;
    platform::PostTask([&ran] { ran = true; });
    const int32_t posted = platform::TickCount();
    platform::waitForActivity(2.0);
    platform::dispatchPending();
    check(ran && platform::TickCount() - posted < 500, "a task posted meanwhile still ends the wait and runs");

    MSG m;
    check(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE) && m.message == WM_QUIT && m.wParam == 3,
          "the host's loop still gets its quit");
}

void fileAndTimeServices()
{
    const std::string temp = platform::TempDirectory();
    check(!temp.empty() && temp.back() == '\\', "temporary directory ends with a backslash: " + temp);

    const platform::LocalTime now = platform::LocalNow();
    check(now.biasMinutes == platform::TimeZoneBiasMinutes(), "the date's zone is the zone in effect");
    check(platform::MailDateText(platform::LocalAt(0)).size() == 25, "mail date text has its fixed width");

    const std::string path = temp + "tolmail-checks-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
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

int main()
{
    platform::SetWindowProc(recordingProc);
    postedMessagesAndTasks();
    holdsKeepReadsAndClosesBack();
    waitsEndOnActivity();
    aQuitIsLeftForTheHost();
    fileAndTimeServices();
    return windows_test::finish();
}

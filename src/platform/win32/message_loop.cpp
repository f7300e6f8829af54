// The thread's message loop on the system's own: a message-only window receives the
// sockets' notifications and the library's posted messages, and a pass dispatches the
// thread's whole queue, so a host's windows keep working while a component waits.
#include "platform/win32/loop.h"

#include "platform/loop_dispatch.h"
#include "platform/net.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace tolmail::platform {
namespace win32 {
namespace {

// The loop's own messages, kept clear of the socket layer's and of a host's WM_USER range.
constexpr UINT kRunTask = WM_APP + 0x2F0;
constexpr UINT kPassEnd = WM_APP + 0x2F1;
constexpr UINT kDeferredDue = WM_APP + 0x2F2;

constexpr char kWindowClass[] = "TolmailNotificationWindow";

// The module the window class belongs to: this code's own, whether it is linked into a
// program or into a DLL that a host loads.
HINSTANCE thisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&thisModule), &module);
    return module;
}

LRESULT CALLBACK notificationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* loop = reinterpret_cast<Loop*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!loop || message < WM_USER)
        return DefWindowProcA(window, message, wParam, lParam);
    // Reached from a host's own DispatchMessage: an exception cannot cross the system's
    // frames back to it, so a failing handler ends here.
    try {
        return loop->handle(message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

void registerWindowClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = notificationWindowProc;
        wc.hInstance = thisModule();
        wc.lpszClassName = kWindowClass;
        RegisterClassA(&wc);
    });
}

// Ends a dispatch on every way out, a handler or task that throws included.
struct DispatchScope {
    int& depth;
    explicit DispatchScope(int& d) : depth(d) { ++depth; }
    ~DispatchScope() { --depth; }
};

} // namespace

Loop::Loop()
{
    registerWindowClass();
    window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, thisModule(), nullptr);
    if (window_)
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Loop::~Loop()
{
    if (window_) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

bool Loop::isSocketNotification(UINT message) const
{
    return socketMessages_.count(message) != 0;
}

bool Loop::isHeld(int32_t socket) const
{
    return holds_.isHeld(socket);
}

bool Loop::isHeld(const Deferred& item) const
{
    return !holds_.empty() && isSocketNotification(item.message) &&
           holds_.holdsBack(ToInt(static_cast<SOCKET>(item.wParam)), static_cast<int32_t>(item.lParam));
}

bool Loop::hasDueDeferred() const
{
    return std::any_of(deferred_.begin(), deferred_.end(), [this](const Deferred& d) { return !isHeld(d); });
}

LRESULT Loop::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kRunTask: {
        if (tasks_.empty())
            return 0;
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        task();
        return 0;
    }
    case kPassEnd:
        passesEnded_ = std::max(passesEnded_, static_cast<uint64_t>(lParam));
        return 0;
    case kDeferredDue:
        wakePosted_ = false;
        deliverDeferred();
        return 0;
    default:
        break;
    }
    if (isSocketNotification(message)) {
        const int32_t socket = ToInt(static_cast<SOCKET>(wParam));
        auto it = sockets_.find(socket);
        // A notification that outlived its socket (closed after the system queued it).
        if (it == sockets_.end() || it->second != message)
            return 0;
        Deferred item{message, wParam, lParam};
        if (isHeld(item)) {
            deferred_.push_back(item);
            return 0;
        }
    }
    if (!windowProc)
        return 0;
    return windowProc(message, static_cast<int32_t>(wParam), static_cast<int32_t>(lParam));
}

void Loop::deliverDeferred()
{
    detail::DeliverInOrder(
        deferred_, [this](const Deferred& item) { return isHeld(item); },
        [this](const Deferred& item) {
            detail::CallInstalled(windowProc, item.message, static_cast<int32_t>(item.wParam),
                                  static_cast<int32_t>(item.lParam));
        });
}

void Loop::wakeForDeferred()
{
    if (depth_ == 0 && !wakePosted_ && hasDueDeferred() && PostMessageA(window_, kDeferredDue, 0, 0))
        wakePosted_ = true;
}

void Loop::dispatch()
{
    DispatchScope scope(depth_);
    deliverDeferred();
    if (HIWORD(GetQueueStatus(QS_ALLINPUT)) == 0)
        return;
    // Messages posted while this pass runs (a task that posts itself again) wait for the
    // next one: the pass ends at its own marker. A nested pass ends at a later marker,
    // which it reaches only after this one, so both end.
    const uint64_t marker = ++passesBegun_;
    const bool marked = PostMessageA(window_, kPassEnd, 0, static_cast<LPARAM>(marker)) != 0;
    MSG m;
    while ((!marked || passesEnded_ < marker) && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            // The host's loop must still see it.
            PostQuitMessage(static_cast<int>(m.wParam));
            break;
        }
        if (m.hwnd == window_ && m.message >= WM_USER) {
            handle(m.message, m.wParam, m.lParam);  // directly, so exceptions reach the caller
            continue;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

void Loop::wait(double seconds)
{
    if (seconds <= 0 || hasDueDeferred())
        return;
    const double ms = std::ceil(seconds * 1000.0);
    const DWORD timeout = ms > 2'000'000'000.0 ? 2'000'000'000u : static_cast<DWORD>(ms);
    // MWMO_INPUTAVAILABLE: messages a pass left in the queue (posted during it) end the
    // wait too, not only those that arrive from now on. A quit waiting for the host's own
    // loop is not for us: it would end every wait at once and a component's wait would
    // spin until its time-out. The system hands the quit out only when nothing else is
    // queued, so a look tells the two apart.
    DWORD flags = MWMO_INPUTAVAILABLE;
    MSG next;
    if (PeekMessageA(&next, nullptr, 0, 0, PM_NOREMOVE)) {
        if (next.message != WM_QUIT)
            return;
        flags = 0;
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, flags);
}

void Loop::postTask(std::function<void()> task)
{
    tasks_.push_back(std::move(task));
    if (!PostMessageA(window_, kRunTask, 0, 0))
        tasks_.pop_back();
}

size_t Loop::hold(int32_t socket)
{
    return holds_.hold(socket);
}

void Loop::release(size_t slot)
{
    holds_.release(slot);
    wakeForDeferred();
}

void Loop::watch(int32_t socket, UINT message)
{
    sockets_[socket] = message;
    socketMessages_.insert(message);
}

UINT Loop::messageOf(int32_t socket) const
{
    auto it = sockets_.find(socket);
    return it == sockets_.end() ? 0 : it->second;
}

void Loop::forget(int32_t socket)
{
    std::erase_if(deferred_, [socket](const Deferred& d) { return ToInt(static_cast<SOCKET>(d.wParam)) == socket; });
    holds_.forget(socket);
    if (sockets_.erase(socket) == 0)
        return;
    // Closing does not take back what the system already queued, and the next socket may
    // get the same number: this socket's notifications leave the queue now. Other
    // sockets' notifications met on the way keep their order, ahead of the queue.
    for (UINT message : socketMessages_) {
        MSG m;
        while (PeekMessageA(&m, window_, message, message, PM_REMOVE)) {
            if (ToInt(static_cast<SOCKET>(m.wParam)) != socket)
                deferred_.push_back(Deferred{m.message, m.wParam, m.lParam});
        }
    }
    wakeForDeferred();
}

} // namespace win32

void PostWindowMessage(uint32_t message, int32_t wParam, int32_t lParam)
{
    PostMessageA(win32::loop().window(), message, static_cast<WPARAM>(static_cast<uint32_t>(wParam)),
                 static_cast<LPARAM>(lParam));
}

void PostSocketNotification(uint32_t message, int32_t socketHandle, int32_t event)
{
    win32::Loop& l = win32::loop();
    if (l.messageOf(socketHandle) == 0)
        l.watch(socketHandle, message);
    PostMessageA(l.window(), message, static_cast<WPARAM>(win32::ToSocket(socketHandle)), static_cast<LPARAM>(event));
}

void PostTask(std::function<void()> task)
{
    if (task)
        win32::loop().postTask(std::move(task));
}

} // namespace tolmail::platform

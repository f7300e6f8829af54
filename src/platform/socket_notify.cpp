// Turns socket readiness into notifications under the platform's re-enabling rules,
// and re-enables them when the owner receives, accepts or is blocked sending.
#include "platform/loop_internal.h"
#include "platform/net.h"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>

namespace tolmail::platform::detail {

uint32_t wantedInterest(const Watch& w)
{
    if (w.dead || w.mask == 0)
        return 0;
    if (w.listener)
        return (w.acceptEnabled && (w.mask & FdAccept)) ? uint32_t{EPOLLIN} : 0u;
    if (w.connecting)
        return EPOLLOUT;
    uint32_t wanted = 0;
    if ((w.mask & FdWrite) && w.writeArmed)
        wanted |= EPOLLOUT;
    if (w.datagram)
        return wanted | ((w.readEnabled && (w.mask & FdRead)) ? uint32_t{EPOLLIN} : 0u);
    // A stream hears its input while a read may be posted. While a read notification is
    // outstanding, unread data is known to be there, so the close cannot be due yet.
    if (!w.closePosted && w.readEnabled && (w.mask & (FdRead | FdClose)))
        wanted |= EPOLLIN | EPOLLRDHUP;
    return wanted;
}

namespace {

int32_t pendingSocketError(int fd)
{
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    return WinsockErrorFromErrno(err);
}

} // namespace

void Loop::onReady(Watch& w, uint32_t events)
{
    // Something fired that the flags no longer want (a read still outstanding, a
    // write not armed): registration catches up now, so a wait cannot spin on it.
    uint32_t wanted = wantedInterest(w);
    if ((events & (EPOLLIN | EPOLLOUT) & ~wanted) != 0 || wanted == 0) {
        updateInterest(w);
        events &= wanted | EPOLLHUP | EPOLLERR;
        if (wanted == 0)
            return;
    }
    if (w.listener) {
        if (w.acceptEnabled && (events & EPOLLIN)) {
            w.acceptEnabled = false;
            postSocket(w, FdAccept, 0);
        }
        growInterest(w);
        return;
    }
    if (w.connecting) {
        int32_t error = pendingSocketError(w.fd);
        w.connecting = false;
        postSocket(w, FdConnect, error);
        if (error != 0)
            w.dead = true;
        else
            w.writeArmed = true;  // a connected socket can take data: the write follows
        growInterest(w);
        return;
    }
    if ((events & EPOLLOUT) && w.writeArmed) {
        w.writeArmed = false;
        postSocket(w, FdWrite, 0);
    }
    if (w.datagram) {
        if (events & EPOLLERR)
            pendingSocketError(w.fd);  // clears a reported datagram error
        if ((events & EPOLLIN) && w.readEnabled) {
            w.readEnabled = false;
            postSocket(w, FdRead, 0);
        }
        growInterest(w);
        return;
    }
    if (!(events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) || !w.readEnabled || w.closePosted) {
        growInterest(w);
        return;
    }
    // Plain input without a hang-up is data. Otherwise look: data still queued ahead of
    // the peer's close is read first, and the close follows only once it is all taken.
    int32_t closeError = -1;
    if (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
        char probe;
        ssize_t n = ::recv(w.fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0)
            closeError = 0;
        else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            closeError = WinsockErrorFromErrno(errno);
        else if (n < 0) {
            growInterest(w);
            return;
        }
    }
    if (closeError < 0) {
        w.readEnabled = false;
        postSocket(w, FdRead, 0);
        growInterest(w);
        return;
    }
    // The peer has closed: one last read that receives 0 characters, then the close.
    if (!w.eofReadPosted && closeError == 0) {
        w.eofReadPosted = true;
        postSocket(w, FdRead, 0);
    }
    w.closePosted = true;
    postSocket(w, FdClose, closeError);
    growInterest(w);
}

} // namespace tolmail::platform::detail

// The words for a connection that failed or stayed silent.
#include "socket/connect_failure.h"

#include "socket/socket_impl.h"
#include "socket/socket_layer.h"
#include "socket/winsock_support.h"

namespace tolmail::socket {

namespace {

/// The error table's text without its full stop, to sit inside a sentence.
std::string Reason(int32_t error)
{
    std::string text = WinsockErrorText(error);
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

std::string Within(const TolvanSocket& socket)
{
    return " within " + std::to_string(socket.TimeOut()) + " s";
}

} // namespace

std::string PeerName(const TolvanSocket& socket)
{
    return socket.Host() + " port " + std::to_string(socket.Port());
}

std::string ConnectFailureText(const TolvanSocket& socket)
{
    const int32_t error = LibraryAccess::impl(socket).ConnectError;
    if (error == kHostNotFound)
        return "Cannot resolve " + socket.Host() + ": " + Reason(error);
    if (error == kTimedOut)
        return "No answer from " + PeerName(socket) + Within(socket);
    std::string text = "Cannot connect to " + PeerName(socket);
    if (const std::string reason = Reason(error); !reason.empty())
        text += ": " + reason;
    return text;
}

std::string NoGreetingText(const TolvanSocket& socket)
{
    if (!socket.Connected())
        return PeerName(socket) + " closed the connection without a greeting";
    return "No greeting from " + PeerName(socket) + Within(socket);
}

} // namespace tolmail::socket

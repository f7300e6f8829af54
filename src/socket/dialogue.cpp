// The command/reply engine (see dialogue.h).
#include "socket/dialogue.h"

#include "socket/dialogue_trace.h"
#include "socket/socket_impl.h"

namespace tolmail::socket {

namespace {

// Enough for any real server's greeting or capability list; a peer that never ends
// its reply cannot keep us reading forever.
constexpr int kMaxReplyLines = 512;

} // namespace

bool OneLine(std::string_view)
{
    return true;
}

int32_t Dialogue::command(std::string_view line, std::string_view shown)
{
    TraceCommand(socket_, line, shown);
    // Sized up front: growing it would free a copy of a secret unwiped. The socket keeps
    // no copy of its own.
    std::string text;
    text.reserve(line.size() + 2);
    text.append(line).append("\r\n");
    const int32_t code = LibraryAccess::impl(socket_).sendBytes(text);
    if (!shown.empty())
        WipeText(text);
    return code;
}

int32_t Dialogue::readReply(FirstRead first)
{
    reply_.clear();
    int32_t code = first == FirstRead::Line ? socket_.GetlnData(reply_) : socket_.GetData(reply_, 0);
    for (int lines = 0; !reply_.empty() && !complete_(reply_) && lines < kMaxReplyLines; ++lines) {
        std::string more;
        code = socket_.GetlnData(more);
        if (more.empty())
            break;
        reply_ += more;
    }
    TraceReply(socket_, reply_);
    return code;
}

void WipeText(std::string& text)
{
    // Through a volatile pointer: a plain fill of memory about to be freed may be dropped.
    volatile char* bytes = text.data();
    for (size_t i = 0; i < text.size(); ++i)
        bytes[i] = 0;
    text.clear();
}

void Dialogue::messageFollows(bool sent)
{
    BeginMessage(socket_, sent);
}

} // namespace tolmail::socket

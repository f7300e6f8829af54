// The command/reply engine (see dialogue.h).
#include "socket/dialogue.h"

#include "socket/dialogue_trace.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/variant.h"

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
    std::string text(line);
    text += "\r\n";
    return static_cast<int32_t>(socket_.senddta(Variant(std::move(text))).toNumber());
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

void Dialogue::messageFollows(bool sent)
{
    BeginMessage(socket_, sent);
}

} // namespace tolmail::socket

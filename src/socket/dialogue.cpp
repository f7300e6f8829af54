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
    if (shown.empty())
        return static_cast<int32_t>(socket_.senddta(Variant(std::move(text))).toNumber());
    Variant secret(text);
    const auto code = static_cast<int32_t>(socket_.senddta(secret).toNumber());
    WipeText(text);
    // The variant is ours and not const: its copy of the line may be wiped as well.
    WipeText(const_cast<std::string&>(secret.get<std::string>()));
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

// The dialogue trace of a connection: lines to the host's sink, message contents
// summed up, a sink's failure kept from the session.
#include "socket/dialogue_trace.h"

#include "socket/socket_impl.h"

namespace tolmail::socket {

namespace {

void emit(TraceState& trace, bool sent, std::string_view line)
{
    // Hold the sink: its handler may replace or clear the trace.
    const std::shared_ptr<DialogueTrace> sink = trace.sink;
    if (!sink)
        return;
    try {
        sink->OnDialogueLine(sent, std::string(line));
    } catch (...) {
        // The trace only watches: a failing watcher must not end a delivery or a retrieval.
    }
}

std::string_view withoutLineEnd(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

void endMessage(TraceState& trace, uint64_t bytesSent, uint64_t bytesTaken)
{
    if (!trace.inMessage)
        return;
    trace.inMessage = false;
    const uint64_t now = trace.messageSent ? bytesSent : bytesTaken;
    const std::string size = std::to_string(now - trace.messageStart) + " bytes]";
    emit(trace, trace.messageSent, (trace.messageSent ? "[message data: " : "[message: ") + size);
}

void endMessage(SocketImpl& s)
{
    endMessage(s.Trace, s.BytesSent, s.BytesTaken);
}

} // namespace

void SetTrace(TolvanSocket& socket, std::shared_ptr<DialogueTrace> sink)
{
    TraceState& trace = LibraryAccess::impl(socket).Trace;
    trace = TraceState{};
    trace.sink = std::move(sink);
}

void TraceCommand(TolvanSocket& socket, std::string_view line, std::string_view shown)
{
    SocketImpl& s = LibraryAccess::impl(socket);
    if (!s.Trace.sink)
        return;
    endMessage(s);
    emit(s.Trace, true, withoutLineEnd(shown.empty() ? line : shown));
}

void TraceReply(TolvanSocket& socket, std::string_view text)
{
    SocketImpl& s = LibraryAccess::impl(socket);
    if (!s.Trace.sink || text.empty())
        return;
    endMessage(s);
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const size_t length = end == std::string_view::npos ? text.size() : end + 1;
        emit(s.Trace, false, withoutLineEnd(text.substr(0, length)));
        text.remove_prefix(length);
    }
}

void TraceTlsStarted(TraceState& trace, uint64_t bytesSent, uint64_t bytesTaken, std::string_view summary)
{
    if (!trace.sink)
        return;
    endMessage(trace, bytesSent, bytesTaken);
    emit(trace, false, "[TLS started: " + std::string(summary) + "]");
}

void BeginMessage(TolvanSocket& socket, bool sent)
{
    SocketImpl& s = LibraryAccess::impl(socket);
    if (!s.Trace.sink)
        return;
    s.Trace.inMessage = true;
    s.Trace.messageSent = sent;
    s.Trace.messageStart = sent ? s.BytesSent : s.BytesTaken;
}

} // namespace tolmail::socket

// The dialogue trace of a connection. The command/reply engine (socket/dialogue.h) sees
// nothing but the socket, so the host's sink travels with it; what is a command, a reply
// or a secret is the protocols' to say, and these routines only tell the sink.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tolmail/dialogue_trace.h"

namespace tolmail {
class TolvanSocket;
}

namespace tolmail::socket {

struct TraceState {
    std::shared_ptr<DialogueTrace> sink;
    bool inMessage = false;   // message contents under way: counted, not traced
    bool messageSent = false;
    uint64_t messageStart = 0;
};

/// Sets the sink (null: no tracing).
void SetTrace(TolvanSocket& socket, std::shared_ptr<DialogueTrace> sink);
/// Traces a command as sent (its line end dropped); `shown` stands in for it when not
/// empty, for a command that carries a secret. Ends message contents first.
void TraceCommand(TolvanSocket& socket, std::string_view line, std::string_view shown = {});
/// Traces received reply text, each line on its own (line ends dropped). Ends message
/// contents first; empty text traces nothing.
void TraceReply(TolvanSocket& socket, std::string_view text);
/// TLS now protects the connection: one line naming its version and cipher (`summary`),
/// shown as the server's side of the exchange. Ends message contents first.
void TraceTlsStarted(TraceState& trace, uint64_t bytesSent, uint64_t bytesTaken, std::string_view summary);
/// Message contents follow, sent or read: instead of their lines, the next command or
/// reply traced is preceded by one line with their size in bytes.
void BeginMessage(TolvanSocket& socket, bool sent);

} // namespace tolmail::socket

// The dialogue trace of a connection. The protocol layers' command and reply helpers
// see nothing but the socket, so the host's sink travels with it; what is a command, a
// reply or a secret is theirs to say, and these routines only tell the sink.
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
    std::string lastCommand;  // as traced: what its reply may start
    bool inMessage = false;   // message contents under way: counted, not traced
    bool messageSent = false;
    uint64_t messageStart = 0;
};

/// Sets the sink (null: no tracing).
void SetTrace(TolvanSocket& socket, std::shared_ptr<DialogueTrace> sink);
/// True while a sink is set: callers may skip making lines nobody sees.
bool Tracing(const TolvanSocket& socket);
/// Traces a command as sent (its line end dropped); `shown` stands in for it when not
/// empty, for a command that carries a secret. Ends message contents first.
void TraceCommand(TolvanSocket& socket, std::string_view line, std::string_view shown = {});
/// Traces received reply text, each line on its own (line ends dropped). Ends message
/// contents first; empty text traces nothing.
void TraceReply(TolvanSocket& socket, std::string_view text);
/// Message contents follow, sent or read: instead of their lines, the next command or
/// reply traced is preceded by one line with their size in bytes.
void BeginMessage(TolvanSocket& socket, bool sent);
/// True between BeginMessage and the next command or reply traced.
bool InMessage(const TolvanSocket& socket);
/// The last command traced, as it was shown.
const std::string& LastCommand(const TolvanSocket& socket);

} // namespace tolmail::socket

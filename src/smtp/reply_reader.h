// Reading of whole SMTP replies (RFC 5321 4.2.1): the lines of a multi-line reply
// ("250-...") are gathered up to the last one before the reply is judged.
#pragma once

#include <string>

namespace tolmail {
class TolvanSocket;
}

namespace tolmail::smtp {

enum class FirstRead {
    Line,   // GetlnData: one line
    Block,  // GetData with requested length 0: whatever has arrived
};

/// Reads one reply. After the first read, further lines are read as long as the text
/// does not end with a complete last line (a line whose fourth character is not "-").
/// A read that brings nothing (time-out, closed) ends the reply as it stands; an empty
/// text means nothing arrived at all. The reply goes to the connection's dialogue trace.
std::string ReadReply(TolvanSocket& socket, FirstRead first);

/// True when `text` ends with CR LF and its last line is not a continuation line.
bool IsCompleteReply(const std::string& text);

} // namespace tolmail::smtp

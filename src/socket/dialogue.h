// The command/reply engine under the protocol dialogues: one command line out, one
// whole reply in, the reply kept for the protocol to judge and to quote. The dialogue
// trace is fed from here alone, so every protocol shows its exchanges the same way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolmail {
class TolvanSocket;
}

namespace tolmail::socket {

/// The protocol's rule for the text read so far: true when it is a whole reply. The
/// engine reads further lines while it says false.
using ReplyComplete = bool (*)(std::string_view text);

/// The rule of a protocol whose every reply is one status line.
bool OneLine(std::string_view text);

/// How the first piece of a reply is read.
enum class FirstRead {
    Line,   // GetlnData: one line
    Block,  // GetData with requested length 0: whatever has arrived
};

/// A command/reply exchange over a connection. Cheap to make: the state that outlives
/// one exchange (the trace) travels with the socket, so a dialogue may be made where
/// it is needed. The socket must outlive it.
class Dialogue {
public:
    Dialogue(TolvanSocket& socket, ReplyComplete complete) : socket_(socket), complete_(complete) {}

    /// Sends the command with CR LF as one piece; nothing is pipelined. The trace shows
    /// `shown` in its place when that is not empty: a command with a secret in it, whose
    /// line is wiped here once sent.
    /// The socket's code: non-zero when the command may not have reached the server whole.
    int32_t command(std::string_view line, std::string_view shown = {});

    /// Reads one whole reply into reply(): the first read as `first` says, then lines
    /// while the protocol's rule says the reply goes on. A read that brings nothing
    /// (time-out, closed) ends the reply as it stands; an empty reply means nothing
    /// arrived at all. The socket's code of the last read.
    int32_t readReply(FirstRead first = FirstRead::Line);

    /// The last reply read, line ends included.
    const std::string& reply() const { return reply_; }

    /// Message contents follow the reply just read, sent (`sent`) or to be read: the
    /// trace sums them up in one line instead of showing them.
    void messageFollows(bool sent);

private:
    TolvanSocket& socket_;
    ReplyComplete complete_;
    std::string reply_;
};

/// Overwrites the bytes of a string that held a secret (a password, a token, their
/// encodings), then empties it: freed memory keeps what it last held.
void WipeText(std::string& text);

} // namespace tolmail::socket

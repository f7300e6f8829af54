// Reading a message body from the POP3 data stream (RFC 1939): byte-stuffing undone
// and the terminating "." line found, however the stream is split into reads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "tolmail/pop3_codes.h"

namespace tolmail {
class TolvanSocket;
}

namespace tolmail::pop3 {

/// Undoes byte-stuffing one piece at a time. The state carries across pieces, so a
/// stuffed dot or the terminating line split over two pieces is still recognised.
/// Starts at the beginning of a line (the body follows the header's empty line).
class Unstuffer {
public:
    /// Appends the un-stuffed bytes of `piece` to `out`; returns true once the
    /// terminating line is complete. Bytes after it are dropped.
    bool feed(std::string_view piece, std::string& out);
    bool ended() const noexcept { return state_ == State::Ended; }

private:
    enum class State { LineStart, Dot, DotCR, InLine, Ended };
    State state_ = State::LineStart;
    bool lastWasCR_ = false;  // the last byte written was CR (a CR LF may straddle pieces)
};

/// Pulls a message body from a source of raw reads (the socket's GetData) through an
/// Unstuffer. A read that brings nothing (time-out, lost connection) ends it.
class DotReader {
public:
    /// Fills the empty `piece` with what one read brought; false when it brought nothing
    /// (taken as a time-out).
    using Source = std::function<bool(std::string& piece)>;
    /// The same with GetMessage's code for a read that brought nothing: NoReply the
    /// source stalled, ConnectionLost the connection is gone; Ok when the piece holds data.
    using CodedSource = std::function<int32_t(std::string& piece)>;

    explicit DotReader(Source source);
    static DotReader WithCodes(CodedSource source);
    /// Reads the socket with GetData (everything available, waiting up to its TimeOut).
    static DotReader FromSocket(TolvanSocket& socket);

    /// Reads once and appends the un-stuffed text to `out` (possibly nothing, when the
    /// read held only a stuffing dot). False when the message has ended or the read
    /// brought nothing.
    bool read(std::string& out);
    /// The terminating line has been read.
    bool ended() const noexcept { return unstuffer_.ended(); }
    /// A read brought nothing before the terminating line.
    bool failed() const noexcept { return failure_ != pop3_result::Ok; }
    /// Why the last read brought nothing: NoReply or ConnectionLost; Ok while none failed.
    int32_t failure() const noexcept { return failure_; }
    /// No further text will come, for either reason.
    bool finished() const noexcept { return failed() || ended(); }
    /// Reads and drops the rest of the message, so that the next command's reply is not
    /// mixed with it. Gives up at the first read that brings nothing.
    void drain();

    /// Receives every piece of un-stuffed text as it is read, whoever reads it.
    using Copy = std::function<void(std::string_view text)>;
    /// Hands all text read from now on to `copy` as well (drained text included).
    void copyTo(Copy copy) { copy_ = std::move(copy); }

private:
    struct Coded {};
    DotReader(Coded, CodedSource source) : source_(std::move(source)) {}

    CodedSource source_;
    Copy copy_;
    Unstuffer unstuffer_;
    int32_t failure_ = pop3_result::Ok;
};

} // namespace tolmail::pop3

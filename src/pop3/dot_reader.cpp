// Un-stuffing of POP3 multi-line responses (RFC 1939, section 3) as a streaming filter.
#include "pop3/dot_reader.h"

#include <cstring>

#include "tolmail/TolvanSocket.h"
#include "tolmail/pop3_codes.h"
#include "tolmail/socket_codes.h"

namespace tolmail::pop3 {

bool Unstuffer::feed(std::string_view piece, std::string& out)
{
    const char* data = piece.data();
    const size_t size = piece.size();
    size_t i = 0;
    while (i < size && state_ != State::Ended) {
        switch (state_) {
        case State::LineStart:
            if (data[i] == '.') {
                state_ = State::Dot;
                ++i;
                continue;
            }
            state_ = State::InLine;
            continue;
        case State::Dot:
            if (data[i] == '\r') {
                state_ = State::DotCR;
                ++i;
                continue;
            }
            // A line that begins with "." followed by more text: the first dot is
            // the stuffing; drop it and read the rest as an ordinary line.
            state_ = State::InLine;
            continue;
        case State::DotCR:
            if (data[i] == '\n') {
                state_ = State::Ended;
                return true;
            }
            out += '\r';
            lastWasCR_ = true;
            state_ = State::InLine;
            continue;
        case State::InLine: {
            // Copy through to the next LF in one go; only a CR LF starts a new line.
            const void* lf = std::memchr(data + i, '\n', size - i);
            const size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - data) + 1 : size;
            out.append(data + i, end - i);
            if (lf) {
                const size_t at = end - 1;
                const bool crlf = at > i ? data[at - 1] == '\r' : lastWasCR_;
                if (crlf)
                    state_ = State::LineStart;
            }
            lastWasCR_ = data[end - 1] == '\r';
            i = end;
            continue;
        }
        case State::Ended:
            break;
        }
    }
    return state_ == State::Ended;
}

DotReader::DotReader(Source source)
    : source_([plain = std::move(source)](std::string& piece) {
          return plain(piece) ? pop3_result::Ok : pop3_result::NoReply;
      })
{
}

DotReader DotReader::WithCodes(CodedSource source)
{
    return DotReader(Coded{}, std::move(source));
}

DotReader DotReader::FromSocket(TolvanSocket& socket)
{
    return WithCodes([&socket](std::string& piece) -> int32_t {
        const int32_t code = socket.GetData(piece, 0);
        if (!piece.empty())
            return pop3_result::Ok;
        // A closed connection hands out what arrived before it closed, then this.
        return code == socket_result::NotConnected ? pop3_result::ConnectionLost : pop3_result::NoReply;
    });
}

bool DotReader::read(std::string& out)
{
    if (finished())
        return false;
    std::string raw;
    if (int32_t code = source_(raw); code != pop3_result::Ok) {
        failure_ = code;
        return false;
    }
    const size_t before = out.size();
    unstuffer_.feed(raw, out);
    if (copy_ && out.size() > before)
        copy_(std::string_view(out).substr(before));
    return true;
}

void DotReader::drain()
{
    std::string sink;
    while (read(sink))
        sink.clear();
}

} // namespace tolmail::pop3

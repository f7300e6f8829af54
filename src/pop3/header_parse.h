// Reading a message header line by line (RFC 5322 fields, RFC 2045 MIME fields):
// field lines, continuations, the fields a Message keeps, and the steps after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pop3/message_impl.h"

namespace tolmail::pop3 {

// Limits on what a hostile server can make a message keep. Lines beyond them are
// still read (so the dialogue stays in step) but no longer stored.
inline constexpr size_t kMaxHeaderLineKept = 64 * 1024;     // a longer header line is cut here
inline constexpr size_t kMaxCompleteHeader = 1024 * 1024;   // CompleteHeader stops growing here
inline constexpr size_t kMaxFieldList = 64 * 1024;          // To, Cc and Content-Type gather up to this
inline constexpr int32_t kMaxRecipients = 4096;             // recipients taken from one header

/// Which reader reads the header: FetchHeader after "TOP n 0", or GetMessage after "RETR".
enum class HeaderReader { Top, Retr };

/// What a raw line turned out to be.
enum class HeaderLine {
    Content,     // a field or continuation line, applied to the message
    Blank,       // the empty line that ends a header
    Terminator,  // the "." line that ends the server's reply
    Nothing,     // an empty read: no line came
};

/// What a header loop carries from one line to the next.
struct HeaderScan {
    explicit HeaderScan(HeaderReader r) : reader(r) {}
    HeaderReader reader;
    std::string name;    // the field being read; its continuation lines join its value
    std::string value;   // the field's value so far, unfolded
    std::string toList;
    std::string ccList;
    bool dropped = false;  // a line was cut, or CompleteHeader was full: the header is not whole
};

/// The length of a field line's name: one or more printable, non-blank characters
/// other than ":" that are followed by ":"; 0 when the line is not a field line.
size_t FieldNameLength(std::string_view line);

/// Takes one line as read from the server (CR LF included). The terminator is judged
/// before byte-stuffing is undone, so a stuffed ".." line is content, never the end.
HeaderLine TakeHeaderLine(MessageImpl& message, HeaderScan& scan, std::string_view raw);

/// The steps after a header: the last field applied, the To and Cc recipients (when addRecipients), then the
/// Content-Type split into type, subtype, parameters and the charset of a text type.
void FinishHeader(MessageImpl& message, HeaderScan& scan, bool addRecipients);

} // namespace tolmail::pop3

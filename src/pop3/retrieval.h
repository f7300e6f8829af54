// Why a message's retrieval step (GetMessage, FetchHeader, DeleteAtServer) failed:
// each failure with its result code and the text POP3Error gives for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tolmail/pop3_codes.h"

namespace tolmail::pop3 {

/// Why a retrieval step failed; each has its text for POP3Error.
enum class Failure : uint8_t {
    None,
    RetrTimedOut,
    BodyTimedOut,
    NotConnected,
    ConnectionLost,
    TempFile,
    TextFile,
    RetrRefused,
    BadReply,
    LineTooLong,
    OverLimits,
    DeleteNoReply,
    DeleteConnectionLost,
    DeleteRefused,
    RawFile,
};

struct FailureRow {
    Failure failure;
    int32_t code;
    const char* text;
};

inline constexpr FailureRow kFailures[] = {
    {Failure::None, pop3_result::Ok, "No Error"},
    {Failure::RetrTimedOut, pop3_result::NoReply, "Timeout: no reply to the command"},
    {Failure::BodyTimedOut, pop3_result::NoReply, "Timeout: the message stopped before its end"},
    {Failure::NotConnected, pop3_result::ConnectionLost, "Not connected"},
    {Failure::ConnectionLost, pop3_result::ConnectionLost, "Connection lost before the end of the message"},
    {Failure::TempFile, pop3_result::TempFileFailed, "Temporary file could not be created or written"},
    {Failure::TextFile, pop3_result::TextFileFailed, "Message text file could not be created or written"},
    {Failure::RetrRefused, pop3_result::Refused, "Message refused by the server"},
    {Failure::BadReply, pop3_result::ProtocolError, "Protocol error: unexpected reply from the server"},
    {Failure::LineTooLong, pop3_result::ProtocolError, "Protocol error: line longer than 1 MiB"},
    {Failure::OverLimits, pop3_result::ProtocolError, "Protocol error: message beyond the parser's limits"},
    {Failure::DeleteNoReply, pop3_result::NoReply, "No reply to DELE"},
    {Failure::DeleteConnectionLost, pop3_result::ConnectionLost, "Connection lost before the reply to DELE"},
    {Failure::DeleteRefused, pop3_result::Refused, "Deletion refused by the server"},
    {Failure::RawFile, pop3_result::TextFileFailed, "Message file could not be created or written"},
};

constexpr const FailureRow& RowOf(Failure failure)
{
    return kFailures[static_cast<size_t>(failure)];
}

} // namespace tolmail::pop3

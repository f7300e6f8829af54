// The results of a message's retrieval (GetMessage, FetchHeader, DeleteAtServer) and
// the texts POP3Error gives for them, in one table.
#pragma once

#include <cstdint>

namespace tolmail::pop3 {

inline constexpr int32_t kRetrieved = 0;
inline constexpr int32_t kTimedOut = 1;        // the server stopped sending
inline constexpr int32_t kConnectionLost = 2;  // the connection closed, or was never there
inline constexpr int32_t kTempFileFailed = 4;  // a part's temporary file could not be created or written
inline constexpr int32_t kTextFileFailed = 8;  // the message-text file could not be created or written
inline constexpr int32_t kRefused = 16;        // the server answered "-ERR"
inline constexpr int32_t kProtocolError = 64;  // a line over the limit, or a message past the named limits

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
};

struct FailureRow {
    Failure failure;
    int32_t code;
    const char* text;
};

inline constexpr FailureRow kFailures[] = {
    {Failure::None, kRetrieved, "No Error"},
    {Failure::RetrTimedOut, kTimedOut, "Timeout: no reply to the command"},
    {Failure::BodyTimedOut, kTimedOut, "Timeout: the message stopped before its end"},
    {Failure::NotConnected, kConnectionLost, "Not connected"},
    {Failure::ConnectionLost, kConnectionLost, "Connection lost before the end of the message"},
    {Failure::TempFile, kTempFileFailed, "Temporary file could not be created or written"},
    {Failure::TextFile, kTextFileFailed, "Message text file could not be created or written"},
    {Failure::RetrRefused, kRefused, "Message refused by the server"},
    {Failure::BadReply, kProtocolError, "Protocol error: unexpected reply from the server"},
    {Failure::LineTooLong, kProtocolError, "Protocol error: line longer than 1 MiB"},
    {Failure::OverLimits, kProtocolError, "Protocol error: message beyond the parser's limits"},
    {Failure::DeleteNoReply, kTimedOut, "No reply to DELE"},
    {Failure::DeleteConnectionLost, kConnectionLost, "Connection lost before the reply to DELE"},
    {Failure::DeleteRefused, kRefused, "Deletion refused by the server"},
};

constexpr const FailureRow& RowOf(Failure failure)
{
    return kFailures[static_cast<size_t>(failure)];
}

} // namespace tolmail::pop3

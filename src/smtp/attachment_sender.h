// Streaming of one attachment file: read in chunks, encoded, sent (RFC 2045).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "tolmail/file_codes.h"
#include "tolmail/task_event.h"

namespace tolmail::smtp {

class BinaryLineCheck;
class DataWriter;

/// Results of SendAttachmentData besides the other file result codes.
constexpr int32_t kMissingOrNotSent = file_result::Missing;  // no such file, or a piece could not be sent
constexpr int32_t kChangedWhileSent = 128;                   // binary data stopped passing its check

/// Raises a progress event: the event, what it names, param1, param2.
using RaiseEvent = std::function<void(const TaskEvent&, std::string_view, int32_t, int32_t)>;

/// Reads `filename` chunk by chunk, encodes each chunk by itself with the rule of
/// `encoding` and sends it as one piece, raising smtp_event::Encoding after each read
/// and EncodingDone at the end. file_result::Ok when done; kMissingOrNotSent when the
/// file is missing or a piece could not be sent;
/// the file result code of a read failure otherwise. With `check`, binary data is fed
/// to it before it is sent and kChangedWhileSent stops the part at the first chunk
/// that fails (the file changed since it was checked).
int32_t SendAttachmentData(DataWriter& out, const std::string& filename, int32_t encoding, const RaiseEvent& raise,
                           BinaryLineCheck* check = nullptr);

} // namespace tolmail::smtp

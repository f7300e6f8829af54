// Attachment streaming: each file read, encoded and sent one chunk at a time, never
// held whole (RFC 2045 transfer encodings, RFC 5321 DATA).
#include "smtp/attachment_sender.h"

#include <algorithm>
#include <limits>

#include "platform/files.h"
#include "platform/message_loop.h"
#include "smtp/binary_lines.h"
#include "smtp/chunk_encoders.h"
#include "smtp/chunk_reader.h"
#include "smtp/data_writer.h"
#include "smtp/message.h"
#include "tolmail/smtp_codes.h"
#include "tolmail/socket_codes.h"

namespace tolmail::smtp {

namespace {

/// Event numbers are 32-bit; larger files report the largest value.
int32_t clamp32(long long n)
{
    return static_cast<int32_t>(std::min<long long>(n, std::numeric_limits<int32_t>::max()));
}

} // namespace

int32_t SendAttachmentData(DataWriter& out, const std::string& filename, int32_t encoding, const RaiseEvent& raise,
                           BinaryLineCheck* check)
{
    if (!platform::IsNormalFile(filename))
        return kMissingOrNotSent;
    platform::FileResult result = file_result::Ok;
    platform::File file = platform::File::OpenRead(filename, result);
    if (!file.isOpen())
        return result == file_result::Ok ? file_result::OtherFailure : result;
    const long long length = file.size();
    if (length < 0)
        return file_result::OtherFailure;

    const EncodingRule& rule = EncodingRuleOf(encoding);
    ChunkReader reader(file);
    std::string encoded;
    long long counter = 0;
    while (counter < length) {
        platform::yieldPoint();
        const std::string_view chunk = reader.next(rule.chunkSize, result);
        if (result != file_result::Ok)
            return result;
        if (chunk.empty())
            break;  // the file shrank since it was measured
        counter += static_cast<long long>(chunk.size());
        raise(smtp_event::Encoding, filename, clamp32(length), clamp32(counter));
        std::string_view piece = chunk;
        if (rule.encode != nullptr) {
            rule.encode(chunk, encoded);
            piece = encoded;
        } else if (check != nullptr && !check->feed(chunk)) {
            return kChangedWhileSent;
        }
        if (out.sendData(piece) != socket_result::Ok)
            return kMissingOrNotSent;
    }
    if (encoding == EncodingUuencode)
        out.sendData("`\r\n");
    if (rule.encode == nullptr && check != nullptr && !check->finish())
        return kChangedWhileSent;
    // Everything read is on its way before the end is reported.
    if (out.flush() != socket_result::Ok)
        return kMissingOrNotSent;
    file.close();
    raise(smtp_event::EncodingDone, {}, clamp32(length), clamp32(counter));
    return file_result::Ok;
}

} // namespace tolmail::smtp

// The DATA-section writer: line-end normalisation and dot-stuffing in front of the
// socket (RFC 5321 4.5.2, RFC 5322 2.3), or in front of a file without the stuffing.
#include "smtp/data_writer.h"

#include "smtp/line_ends.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/file_codes.h"
#include "tolmail/socket_codes.h"
#include "tolmail/variant.h"

namespace tolmail::smtp {

int32_t SocketSink::write(std::string&& piece)
{
    return static_cast<int32_t>(socket_.senddta(Variant(std::move(piece))).toNumber());
}

int32_t FileSink::write(std::string&& piece)
{
    platform::FileResult result = file_result::Ok;
    if (!file_.write(piece.data(), piece.size(), result))
        return result == file_result::Ok ? file_result::OtherFailure : result;
    return file_result::Ok;
}

std::string_view DataWriter::stuffed(std::string_view piece)
{
    return stuff_ ? stuffer_.filter(piece, scratch_) : piece;
}

int32_t DataWriter::sendText(std::string_view text)
{
    if (const int32_t rc = flush(); rc != socket_result::Ok)
        return rc;
    return send(std::string(stuffed(NormalizeLineEnds(text))));
}

int32_t DataWriter::sendData(std::string_view data)
{
    if (failure_ != socket_result::Ok)
        return failure_;
    batch_ += stuffed(data);
    return batch_.size() >= kBatchSize ? flush() : socket_result::Ok;
}

int32_t DataWriter::flush()
{
    if (batch_.empty())
        return socket_result::Ok;
    const int32_t rc = send(std::move(batch_));
    batch_.clear();
    batch_.reserve(kBatchSize + kBatchSize / 8);
    return rc;
}

int32_t DataWriter::send(std::string&& piece)
{
    if (failure_ != socket_result::Ok)
        return failure_;
    failure_ = sink_.write(std::move(piece));
    return failure_;
}

} // namespace tolmail::smtp

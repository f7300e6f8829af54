// The DATA-section writer: line-end normalisation and dot-stuffing in front of the
// socket (RFC 5321 4.5.2, RFC 5322 2.3).
#include "smtp/data_writer.h"

#include "smtp/line_ends.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/socket_codes.h"
#include "tolmail/variant.h"

namespace tolmail::smtp {

int32_t DataWriter::sendText(std::string_view text)
{
    if (const int32_t rc = flush(); rc != socket_result::Ok)
        return rc;
    return send(std::string(stuffer_.filter(NormalizeLineEnds(text), scratch_)));
}

int32_t DataWriter::sendData(std::string_view data)
{
    if (failure_ != socket_result::Ok)
        return failure_;
    batch_ += stuffer_.filter(data, scratch_);
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
    const Variant result = socket_.senddta(Variant(std::move(piece)));
    failure_ = static_cast<int32_t>(result.toNumber());
    return failure_;
}

} // namespace tolmail::smtp

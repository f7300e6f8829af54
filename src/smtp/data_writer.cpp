// The DATA-section writer: line-end normalisation and dot-stuffing in front of the
// socket (RFC 5321 4.5.2, RFC 5322 2.3).
#include "smtp/data_writer.h"

#include "smtp/line_ends.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/variant.h"

namespace tolmail::smtp {

int32_t DataWriter::sendText(std::string_view text)
{
    return send(stuffer_.filter(NormalizeLineEnds(text), scratch_));
}

int32_t DataWriter::sendData(std::string_view data)
{
    return send(stuffer_.filter(data, scratch_));
}

int32_t DataWriter::send(std::string_view piece)
{
    const Variant result = socket_.senddta(Variant(std::string(piece)));
    return static_cast<int32_t>(result.toNumber());
}

} // namespace tolmail::smtp

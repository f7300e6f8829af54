// Per-chunk transfer encoders for attachments: quoted-printable, base64, x-uuencode
// and binary (RFC 2045 6.7, 6.8; uuencode data lines).
#include "smtp/chunk_encoders.h"

#include <array>

#include "codec/base64.h"
#include "codec/quoted_printable.h"
#include "codec/uuencode.h"

namespace tolmail::smtp {

namespace {

constexpr size_t kQpLineLimit = 76;

bool endsWithCrLf(std::string_view s)
{
    return s.size() >= 2 && s[s.size() - 2] == '\r' && s.back() == '\n';
}

void encodeQp(std::string_view chunk, std::string& out)
{
    out.clear();
    codec::QpEncodeAppend(out, chunk);
    if (!endsWithCrLf(chunk))
        EndQpChunkSoftly(out);
}

void encodeBase64(std::string_view chunk, std::string& out)
{
    out.clear();
    codec::Base64EncodeAppend(out, chunk);
}

void encodeUu(std::string_view chunk, std::string& out)
{
    // The encoder closes with a grave accent; one terminating line follows the last chunk.
    out.clear();
    codec::UuEncodeAppend(out, chunk);
    if (!out.empty() && out.back() == '`')
        out.pop_back();
}

constexpr std::array<EncodingRule, 3> kRules = {{
    {1, "quoted-printable", 3800, encodeQp},
    {2, "base64", 2850, encodeBase64},
    {3, "x-uuencode", 2250, encodeUu},
}};

constexpr EncodingRule kBinary = {0, "binary", 32000, nullptr};

} // namespace

const EncodingRule& EncodingRuleOf(int32_t code)
{
    for (const auto& rule : kRules) {
        if (rule.code == code)
            return rule;
    }
    return kBinary;
}

void EndQpChunkSoftly(std::string& encoded)
{
    if (!endsWithCrLf(encoded))
        return;
    encoded.resize(encoded.size() - 2);
    const size_t lineStart = encoded.rfind('\n') == std::string::npos ? 0 : encoded.rfind('\n') + 1;
    const size_t lineLength = encoded.size() - lineStart;
    if (lineLength + 1 > kQpLineLimit) {
        // Too long for one more "=": cut the line earlier, never inside an escape.
        size_t cut = lineStart + kQpLineLimit - 1;
        if (encoded[cut - 1] == '=')
            cut -= 1;
        else if (encoded[cut - 2] == '=')
            cut -= 2;
        encoded.insert(cut, "=\r\n");
    }
    encoded += "=\r\n";
}

} // namespace tolmail::smtp

// Error texts for the host: fixed-size fields, so a long text is cut, never mid-character.
#include "server/error_info.h"

#include <cstring>

namespace tolmail::server {
namespace {

template <size_t N>
void CopyCut(char (&field)[N], std::string_view text) noexcept
{
    size_t length = text.size();
    if (length > N - 1) {
        length = N - 1;
        // Back off over UTF-8 continuation bytes so the cut lands before a lead byte.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

} // namespace

void FillErrorInfo(TmErrorInfo* info, int32_t code, std::string_view source, std::string_view description) noexcept
{
    if (!info)
        return;
    info->code = code;
    CopyCut(info->source, source);
    CopyCut(info->description, description);
}

TmResult Failure(TmErrorInfo* info, TmResult result, std::string_view source, std::string_view description) noexcept
{
    FillErrorInfo(info, result, source, description);
    return result;
}

} // namespace tolmail::server

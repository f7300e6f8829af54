// A stand-in for the Windows charset service until its own converter is in: UTF-8 and
// US-ASCII labels keep well-formed text, everything else is read as Latin-1, and nothing is
// written in another charset. Enough for the automation server to link and run.
#include "platform/charset.h"

#include "platform/win32/windows_api.h"

namespace tolmail::platform {
namespace {

bool Utf8Label(const std::string& canonical)
{
    return canonical == "UTF-8" || canonical == "US-ASCII";
}

std::string Latin1ToUtf8(std::string_view bytes)
{
    std::string out;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

} // namespace

bool IsUtf8(std::string_view text)
{
    if (text.empty())
        return true;
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr,
                               0) > 0;
}

std::string CanonicalCharset(std::string_view charset)
{
    std::string name;
    for (char c : charset) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                             c == '-' || c == '_' || c == '.' || c == ':' || c == '+';
        if (!allowed || name.size() >= 40)
            return {};
        name += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    if (name == "UTF8")
        return "UTF-8";
    if (name == "ASCII")
        return "US-ASCII";
    return name;
}

std::string ToUtf8(std::string_view charset, std::string_view bytes)
{
    if (Utf8Label(CanonicalCharset(charset)) && IsUtf8(bytes))
        return std::string(bytes);
    return Latin1ToUtf8(bytes);
}

std::optional<std::string> FromUtf8(std::string_view charset, std::string_view utf8)
{
    if (Utf8Label(CanonicalCharset(charset)) && IsUtf8(utf8))
        return std::string(utf8);
    return std::nullopt;
}

} // namespace tolmail::platform

// The international reading mode of TolvanPOP3. The default reading keeps the header's
// bytes as they came; this one makes UTF-8 of them, which is what a host shows a user.
#include "pop3/international_text.h"

#include <optional>

#include "codec/base64.h"
#include "codec/encoded_word_decoder.h"
#include "codec/mime_parameters.h"
#include "codec/quoted_printable.h"
#include "codec/wordfunc.h"
#include "platform/charset.h"
#include "pop3/session.h"

namespace tolmail::pop3 {

namespace {

std::string_view Trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

/// Quoted strings in a display name with their quotes and escapes undone; an encoded
/// word inside quotes still decodes, as mailers write them so.
std::string Unquoted(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    bool quoted = false;
    for (size_t at = 0; at < name.size(); ++at) {
        const char c = name[at];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\' && quoted && at + 1 < name.size()) {
            out += name[++at];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::string HeaderBlanks(bool international, std::string_view text)
{
    if (!international)
        return codec::NormalizeBlanks(text);
    std::string out(text);
    for (char& c : out) {
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    }
    return out;
}

std::string DisplayName(std::string_view name)
{
    return std::string(Trim(codec::DecodeEncodedWords(Unquoted(Trim(name)))));
}

std::string FieldText(std::string_view header, std::string_view name)
{
    const std::string wanted = UpperAscii(name);
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find("\r\n", at);
        if (end == std::string_view::npos)
            end = header.size();
        const std::string_view line = header.substr(at, end - at);
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos && UpperAscii(Trim(line.substr(0, colon))) == wanted)
            return std::string(Trim(line.substr(colon + 1)));
        at = end + 2;
    }
    return {};
}

std::string AttachmentName(std::string_view typeParams, std::string_view disposition)
{
    if (std::optional<std::string> name = codec::ParameterText(codec::ParseMimeParameters(typeParams), "name"))
        return std::string(Trim(*name));
    // The disposition's own word ("attachment", "inline") comes before its first ";".
    const size_t semicolon = disposition.find(';');
    if (semicolon != std::string_view::npos) {
        const auto parameters = codec::ParseMimeParameters(disposition.substr(semicolon + 1));
        if (std::optional<std::string> name = codec::ParameterText(parameters, "filename"))
            return std::string(Trim(*name));
    }
    return {};
}

std::string BodyText(std::string_view body, std::string_view transferEncoding, std::string_view typeParams)
{
    const std::string encoding = UpperAscii(Trim(transferEncoding));
    std::string octets;
    if (encoding == "QUOTED-PRINTABLE") {
        octets = codec::QpDecode(body);
    } else if (encoding == "BASE64") {
        try {
            octets = codec::Base64Decode(body);
        } catch (const std::exception&) {
            octets = body;
        }
    } else {
        octets = body;
    }
    const std::optional<std::string> charset =
        codec::ParameterText(codec::ParseMimeParameters(typeParams), "charset");
    return platform::ToUtf8(charset && !charset->empty() ? *charset : std::string("US-ASCII"), octets);
}

} // namespace tolmail::pop3

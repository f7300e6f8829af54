// Attachment part headers. A file name beyond ASCII has no place in a quoted parameter:
// RFC 2231 gives it one (charset, percent-encoded bytes, continuations), and readers
// older than that still show the encoded words that many writers put in name=.
#include "smtp/attachment_headers.h"

#include <algorithm>
#include <string_view>

#include "codec/encoded_word_encoder.h"
#include "codec/utf8.h"
#include "smtp/header_value.h"

namespace tolmail::smtp {

namespace {

constexpr const char* kCrLf = "\r\n";

/// Characters an extended parameter value may hold as they are (RFC 2231 attribute-char).
bool isAttributeCharacter(char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
}

std::string percentEncoded(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (isAttributeCharacter(ch)) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

/// " filename*=UTF-8''..." on one line when it fits, else as continuations, each cut
/// between whole characters, every line but the last ended by ";" CR LF.
std::string extendedFilename(const std::string& name)
{
    constexpr std::string_view kCharsetPart = "UTF-8''";
    std::string whole = " filename*=" + std::string(kCharsetPart) + percentEncoded(name);
    if (whole.size() <= codec::kFoldedLineLength)
        return whole;
    std::string lines;
    std::string_view rest(name);
    for (int index = 0; !rest.empty(); ++index) {
        std::string line = " filename*" + std::to_string(index) + "*=" + (index == 0 ? std::string(kCharsetPart) : "");
        // Every line takes at least one character, so that the loop ends.
        for (bool first = true; !rest.empty(); first = false) {
            const size_t n = std::max<size_t>(1, codec::Utf8SequenceLength(rest));
            const std::string piece = percentEncoded(rest.substr(0, n));
            if (!first && line.size() + piece.size() + 1 > codec::kFoldedLineLength)
                break;
            line += piece;
            rest.remove_prefix(n);
        }
        lines += line;
        if (!rest.empty())
            lines += std::string(";") + kCrLf;
    }
    return lines;
}

} // namespace

std::string AttachmentHeaderLines(const std::string& shortName, const char* token, bool international)
{
    const std::string name = QuotedStringContent(shortName);
    std::string bare = shortName;  // no line break may start a line of its own
    std::erase_if(bare, [](char c) { return c == '\r' || c == '\n'; });
    const bool plainName = !international || !codec::NeedsEncodedWords(bare, codec::WordPlace::Text);
    std::string lines;
    if (plainName) {
        lines += "Content-Type: application/octet-stream; name=\"" + name + "\"" + kCrLf;
    } else {
        lines += std::string("Content-Type: application/octet-stream;") + kCrLf;
        // One column more than the text before it, for the closing quotation mark.
        lines += " name=\"" + codec::EncodeAsWords(bare, 8) + "\"" + kCrLf;
    }
    lines += std::string("Content-Transfer-Encoding: ") + token + kCrLf;
    if (plainName)
        lines += "Content-Disposition: attachment; filename=\"" + name + "\"" + kCrLf;
    else
        lines += std::string("Content-Disposition: attachment;") + kCrLf + extendedFilename(bare) + kCrLf;
    return lines;
}

} // namespace tolmail::smtp

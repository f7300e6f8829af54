// Display names and unstructured values of the international mode (RFC 2047, RFC 5322
// 3.2.5). An encoded word cannot stand inside a quoted string, so a name beyond ASCII
// is written as encoded words alone, its commas and quotes encoded with it.
#include "smtp/international_headers.h"

#include "codec/encoded_word_encoder.h"
#include "smtp/header_value.h"

namespace tolmail::smtp {

using codec::WordPlace;

std::string PhraseText(const std::string& name, size_t column)
{
    const std::string unfolded = UnfoldedValue(name);
    if (!codec::NeedsEncodedWords(unfolded, WordPlace::Phrase))
        return unfolded;
    // Printable ASCII with specials such as "," or "." is a quoted string; an "=?" would
    // be read as an encoded word even there by some readers.
    if (!codec::NeedsEncodedWords(unfolded, WordPlace::Text)) {
        std::string quoted(1, '"');
        quoted += QuotedStringContent(unfolded);
        quoted += '"';
        return quoted;
    }
    return codec::EncodeHeaderText(unfolded, WordPlace::Phrase, column);
}

std::string MailboxText(const std::string& name, const std::string& address, size_t column)
{
    const std::string text = PhraseText(name, column);
    std::string angle(1, '<');
    angle += address;
    angle += '>';
    const size_t end = text.find('\n') == std::string::npos ? column + text.size() : ColumnAfter(text);
    // Only a name written as encoded words may fold: the plain composition never does.
    if (end + 1 + angle.size() > codec::kFoldedLineLength && text.find("=?") != std::string::npos)
        return text + "\r\n " + angle;
    return text + " " + angle;
}

std::string UnstructuredText(const std::string& value, size_t column)
{
    const std::string unfolded = UnfoldedValue(value);
    if (!codec::NeedsEncodedWords(unfolded, WordPlace::Text))
        return FoldHeaderValue(value);
    return codec::EncodeHeaderText(unfolded, WordPlace::Text, column);
}

std::string AddressText(const std::string& value, size_t column)
{
    const std::string unfolded = UnfoldedValue(value);
    const size_t open = unfolded.rfind('<');
    const size_t last = unfolded.find_last_not_of(" \t");
    if (open == std::string::npos || last == std::string::npos || unfolded[last] != '>' ||
        !codec::NeedsEncodedWords(unfolded.substr(0, open), WordPlace::Text))
        return FoldHeaderValue(value);
    std::string name = unfolded.substr(0, open);
    name.erase(name.find_last_not_of(" \t") + 1);
    name.erase(0, name.find_first_not_of(" \t"));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
        std::string inside;
        for (size_t i = 1; i + 1 < name.size(); ++i)
            inside += name[i] == '\\' && i + 2 < name.size() ? name[++i] : name[i];
        name = inside;
    }
    return MailboxText(name, unfolded.substr(open + 1, last - open - 1), column);
}

size_t ColumnAfter(const std::string& lines)
{
    const size_t newline = lines.rfind('\n');
    return newline == std::string::npos ? lines.size() : lines.size() - newline - 1;
}

} // namespace tolmail::smtp

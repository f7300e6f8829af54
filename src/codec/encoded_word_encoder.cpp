// Encoded words (RFC 2047): "=?UTF-8?B?...?=" or "=?UTF-8?Q?...?=", at most 75
// characters each, on lines of at most 76 (RFC 2047 section 2, RFC 5322 2.1.1).
#include "codec/encoded_word_encoder.h"

#include <algorithm>
#include <vector>

#include "codec/base64.h"
#include "codec/utf8.h"

namespace tolmail::codec {

namespace {

constexpr std::string_view kBPrefix = "=?UTF-8?B?";
constexpr std::string_view kQPrefix = "=?UTF-8?Q?";
constexpr std::string_view kSuffix = "?=";
constexpr size_t kLongestWord = 75;
constexpr size_t kOverhead = 12;  // prefix and suffix

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

/// Atom characters of RFC 5322 3.2.3.
bool isAtomCharacter(char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

/// A character Q may leave as it is: the set RFC 2047 5(3) allows in a phrase, which is
/// safe in unstructured text as well.
bool isQLiteral(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return c == '!' || c == '*' || c == '+' || c == '-' || c == '/';
}

size_t qLength(std::string_view bytes)
{
    size_t n = 0;
    for (const char c : bytes)
        n += (c == ' ' || isQLiteral(static_cast<unsigned char>(c))) ? 1 : 3;
    return n;
}

size_t bLength(size_t bytes)
{
    return (bytes + 2) / 3 * 4;
}

void appendQ(std::string& out, std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == ' ') {
            out += '_';
        } else if (isQLiteral(c)) {
            out += ch;
        } else {
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
}

void appendB(std::string& out, std::string_view bytes)
{
    std::string line = Base64Encode(bytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    out += line;
}

bool wordNeedsEncoding(std::string_view word, WordPlace place)
{
    if (word.find("=?") != std::string_view::npos)
        return true;
    for (const char ch : word) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x21 || c > 0x7E)
            return true;
        if (place == WordPlace::Phrase && !isAtomCharacter(ch))
            return true;
    }
    return false;
}

/// Writes a run as encoded words of one kind, each as long as the line allows, folding
/// where not even one more character fits; `column` follows the output.
class RunWriter {
public:
    RunWriter(std::string& out, size_t& column) : out_(out), column_(column) {}

    void write(std::string_view before, std::string_view run)
    {
        useB_ = bLength(run.size()) < qLength(run);
        std::string_view separator = before;
        bool mayFold = !before.empty();  // a fold needs a blank to begin the next line
        while (!run.empty()) {
            size_t take = fitting(run, roomAfter(column_ + separator.size()));
            if (take == 0 && mayFold) {
                out_ += "\r\n";
                column_ = 0;
                take = fitting(run, roomAfter(separator.size()));
            }
            if (take == 0)  // no blank to fold at: one character on an overlong line
                take = std::max<size_t>(1, Utf8SequenceLength(run));
            out_ += separator;
            const size_t start = out_.size();
            out_ += useB_ ? kBPrefix : kQPrefix;
            if (useB_)
                appendB(out_, run.substr(0, take));
            else
                appendQ(out_, run.substr(0, take));
            out_ += kSuffix;
            column_ += separator.size() + out_.size() - start;
            run.remove_prefix(take);
            separator = " ";
            mayFold = true;
        }
    }

private:
    static size_t roomAfter(size_t used)
    {
        return used >= kFoldedLineLength ? 0 : std::min(kLongestWord, kFoldedLineLength - used);
    }

    /// The most bytes, whole characters only, whose word fits `width` characters.
    size_t fitting(std::string_view run, size_t width) const
    {
        if (width <= kOverhead)
            return 0;
        const size_t budget = width - kOverhead;
        size_t taken = 0;
        while (taken < run.size()) {
            size_t n = Utf8SequenceLength(run.substr(taken));
            if (n == 0)
                n = 1;
            const size_t cost = useB_ ? bLength(taken + n) : qLength(run.substr(0, taken + n));
            if (cost > budget)
                break;
            taken += n;
        }
        return taken;
    }

    std::string& out_;
    size_t& column_;
    bool useB_ = false;
};

struct Piece {
    std::string_view blanks;  // before the word
    std::string_view word;
    bool encode = false;
};

} // namespace

bool NeedsEncodedWords(std::string_view text, WordPlace place)
{
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        const size_t start = i;
        while (i < text.size() && !isBlank(text[i]))
            ++i;
        if (i > start && wordNeedsEncoding(text.substr(start, i - start), place))
            return true;
    }
    return false;
}

std::string EncodeHeaderText(std::string_view input, WordPlace place, size_t column)
{
    if (!NeedsEncodedWords(input, place))
        return std::string(input);
    const std::string text = WellFormedUtf8(input);
    const std::string_view all(text);

    std::vector<Piece> pieces;
    std::string_view trailing;
    size_t i = 0;
    while (i < all.size()) {
        const size_t blankStart = i;
        while (i < all.size() && isBlank(all[i]))
            ++i;
        const size_t start = i;
        while (i < all.size() && !isBlank(all[i]))
            ++i;
        if (i == start) {
            trailing = all.substr(blankStart);
            break;
        }
        const std::string_view word = all.substr(start, i - start);
        pieces.push_back({all.substr(blankStart, start - blankStart), word, wordNeedsEncoding(word, place)});
    }

    std::string out;
    out.reserve(text.size() * 2);
    RunWriter runs(out, column);
    for (size_t p = 0; p < pieces.size();) {
        const Piece& piece = pieces[p];
        if (piece.encode) {
            // The run reaches over the blanks between its words: between two encoded
            // words a reader drops the blanks, so they must be inside the encoding.
            size_t last = p;
            while (last + 1 < pieces.size() && pieces[last + 1].encode)
                ++last;
            const char* begin = piece.word.data();
            const char* end = pieces[last].word.data() + pieces[last].word.size();
            runs.write(piece.blanks, std::string_view(begin, static_cast<size_t>(end - begin)));
            p = last + 1;
            continue;
        }
        if (column + piece.blanks.size() + piece.word.size() > kFoldedLineLength && !piece.blanks.empty()) {
            out += "\r\n";
            column = 0;
        }
        out += piece.blanks;
        out += piece.word;
        column += piece.blanks.size() + piece.word.size();
        ++p;
    }
    out += trailing;
    return out;
}

std::string EncodeAsWords(std::string_view text, size_t column)
{
    const std::string wellFormed = WellFormedUtf8(text);
    std::string out;
    RunWriter(out, column).write({}, wellFormed);
    return out;
}

} // namespace tolmail::codec

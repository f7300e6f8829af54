// Attachment.Save: decodes a retrieved attachment (base64, x-uuencode or
// quoted-printable of RFC 2045, or unencoded) into a new file.
#include <algorithm>
#include <climits>
#include <string_view>

#include "codec/base64.h"
#include "codec/quoted_printable.h"
#include "codec/temp_files.h"
#include "codec/uuencode.h"
#include "platform/files.h"
#include "platform/library_caller.h"
#include "tolmail/Attachment.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/pop3_codes.h"
#include "tolmail/error.h"

namespace tolmail {

namespace {

using platform::FileResult;

enum class Decoder { Base64, Uuencode, QuotedPrintable, Copy };

struct Road {
    Decoder decoder;
    size_t piece;  // characters read from a temporary file per step
};

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return Upper(x) == Upper(y);
           });
}

Road RoadOf(std::string_view encoding)
{
    if (EqualsNoCase(encoding, "BASE64"))
        return {Decoder::Base64, 7800};
    if (EqualsNoCase(encoding, "X-UUENCODE"))
        return {Decoder::Uuencode, 4800};
    if (EqualsNoCase(encoding, "QUOTED-PRINTABLE"))
        return {Decoder::QuotedPrintable, 32000};
    return {Decoder::Copy, 64000};
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A line longer than this is not waited for: it is decoded where it stands.
constexpr size_t kLongestCarry = 64 * 1024;

/// Decodes a body piece by piece. The decoders work on whole lines, so the unfinished
/// tail of a piece (a partial line, hence never a partial escape or group) is carried
/// into the next piece.
class PieceDecoder {
public:
    explicit PieceDecoder(Decoder decoder) : decoder_(decoder) {}

    /// The bytes of what is complete of the carried tail and `piece`; `last` decodes
    /// everything. Throws Error for a character outside the base64 alphabet.
    std::string decode(std::string_view piece, bool last)
    {
        if (decoder_ == Decoder::Copy)
            return std::string(piece);
        carry_.append(piece);
        const size_t cut = last ? carry_.size() : cutPoint();
        std::string out = decodeText(std::string_view(carry_).substr(0, cut), last);
        carry_.erase(0, cut);
        return out;
    }

private:
    size_t cutPoint() const
    {
        const size_t crlf = carry_.rfind("\r\n");
        if (crlf != std::string::npos)
            return decoder_ == Decoder::QuotedPrintable ? QpCut(crlf) : crlf + 2;
        if (carry_.size() < kLongestCarry)
            return 0;
        // Hostile line length: cut where no group or escape is split.
        if (decoder_ == Decoder::Base64)
            return carry_.size() / 4 * 4;
        size_t cut = carry_.size();
        if (decoder_ == Decoder::QuotedPrintable) {
            if (carry_[cut - 1] == '=')
                cut -= 1;
            else if (carry_[cut - 2] == '=')
                cut -= 2;
            while (cut > 0 && (carry_[cut - 1] == ' ' || carry_[cut - 1] == '\t'))
                --cut;  // blanks are dropped at the end of a decoded text
        }
        return cut;
    }

    /// A cut at or before the line end at `crlf`. Blanks before a soft line break
    /// are only written once something follows, so a piece must not end with them:
    /// such a cut moves back to before the blanks (and any soft breaks among them).
    size_t QpCut(size_t crlf) const
    {
        for (;;) {
            size_t cut = crlf + 2;
            size_t b = cut;
            for (;;) {
                if (b >= 3 && carry_.compare(b - 3, 3, "=\r\n") == 0)
                    b -= 3;
                else if (b >= 1 && (carry_[b - 1] == ' ' || carry_[b - 1] == '\t'))
                    b -= 1;
                else
                    break;
            }
            const bool blanks = carry_.find_first_of(" \t", b) < cut;
            if (!blanks)
                return cut;
            // Never cut just after an "=": it would begin an escape with what follows.
            if (b >= 2 && carry_[b - 1] != '=' && carry_[b - 2] != '=')
                return b;
            if (b == 0)
                return 0;
            crlf = carry_.rfind("\r\n", b - 1);
            if (crlf == std::string::npos)
                return 0;
        }
    }

    std::string decodeText(std::string_view text, bool last)
    {
        switch (decoder_) {
        case Decoder::Base64:
            // Blank lines after the last group (some senders add them) are not data.
            if (last) {
                while (!text.empty() && IsBlank(text.back()))
                    text.remove_suffix(1);
            }
            return codec::Base64Decode(text);
        case Decoder::QuotedPrintable:
            return codec::QpDecode(text);
        case Decoder::Uuencode:
            return decodeUu(text);
        case Decoder::Copy:
            break;
        }
        return std::string(text);
    }

    std::string decodeUu(std::string_view text)
    {
        if (uuEnded_)
            return {};
        // A "begin mode name" line before the data is framing, not data.
        if (firstLine_ && text.size() >= 6 && EqualsNoCase(text.substr(0, 6), "BEGIN ")) {
            const size_t crlf = text.find("\r\n");
            text.remove_prefix(crlf == std::string_view::npos ? text.size() : crlf + 2);
        }
        if (!text.empty())
            firstLine_ = false;
        // The data end at the first line whose count is 0; nothing after it is data.
        for (size_t line = 0; line < text.size();) {
            if (text[line] == ' ' || text[line] == '`') {
                uuEnded_ = true;
                text = text.substr(0, line);
                break;
            }
            const size_t crlf = text.find("\r\n", line);
            if (crlf == std::string_view::npos)
                break;
            line = crlf + 2;
        }
        return codec::UuDecode(text);
    }

    Decoder decoder_;
    std::string carry_;
    bool firstLine_ = true;
    bool uuEnded_ = false;
};

/// Removes a target that Save created unless it was written whole: a file cut short
/// under the name the caller asked for would pass for the attachment.
class TargetGuard {
public:
    explicit TargetGuard(std::string path) : path_(std::move(path)) {}
    ~TargetGuard()
    {
        if (!kept_)
            (void)platform::RemoveFile(path_);
    }
    TargetGuard(const TargetGuard&) = delete;
    TargetGuard& operator=(const TargetGuard&) = delete;
    void keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};

/// Save reports permission denied as SavePermissionDenied where the file routines say
/// PermissionDenied.
int32_t SaveCode(FileResult result)
{
    return result == file_result::PermissionDenied ? file_result::SavePermissionDenied : result;
}

/// The source read and the target written in large blocks, while the pieces keep their
/// sizes: one system call per piece costs more than the decoding.
class BufferedFiles {
public:
    BufferedFiles(platform::File& in, platform::File& out) : in_(in), out_(out) {}

    /// The next n bytes of the source; a save code when they cannot be read.
    int32_t read(std::string& piece, size_t n)
    {
        while (input_.size() - used_ < n) {
            input_.erase(0, used_);
            used_ = 0;
            const size_t have = input_.size();
            input_.resize(have + kBlock);
            FileResult result = file_result::Ok;
            const long count = in_.read(input_.data() + have, kBlock, result);
            input_.resize(have + static_cast<size_t>(std::max(count, 0L)));
            if (count < 0)
                return SaveCode(result);
            if (count == 0)
                return file_result::OtherFailure;  // the file shrank under us
        }
        piece.assign(input_, used_, n);
        used_ += n;
        return file_result::Ok;
    }

    int32_t write(const std::string& decoded)
    {
        output_ += decoded;
        return output_.size() >= kBlock ? flush() : file_result::Ok;
    }

    int32_t flush()
    {
        FileResult result = file_result::Ok;
        if (!output_.empty() && !out_.write(output_.data(), output_.size(), result))
            return SaveCode(result);
        output_.clear();
        return file_result::Ok;
    }

private:
    static constexpr size_t kBlock = 256 * 1024;
    platform::File& in_;
    platform::File& out_;
    std::string input_;
    size_t used_ = 0;
    std::string output_;
};

int32_t Clamp32(long long value)
{
    return static_cast<int32_t>(std::min<long long>(value, INT_MAX));
}

void Raise(const WeakRef<TolvanPOP3>& owner, const std::string& text, int32_t task, long long total, long long left)
{
    if (Ref<TolvanPOP3> pop3 = owner.lock())
        pop3->RaiseProgress(text, task, Clamp32(total), Clamp32(left), detail::libraryCaller());
}

} // namespace

int32_t Attachment::Save(const std::string& Filename)
{
    if (Filename.empty())
        return file_result::EmptyFilename;
    const Road road = RoadOf(encoding_);

    if (tempFilename_.empty()) {
        PieceDecoder decoder(road.decoder);
        // An invalid base64 character reaches the host as an automation error here,
        // before anything is created.
        const std::string data = decoder.decode(attachmentBody_, true);
        if (platform::IsNormalFile(Filename))
            return file_result::Exists;
        FileResult result = file_result::Ok;
        platform::File out = platform::File::CreateNew(Filename, result);
        if (!out.isOpen())
            return result;
        TargetGuard target(Filename);
        if (!data.empty() && !out.write(data.data(), data.size(), result))
            return result;
        out.close();
        target.keep();
        return file_result::Ok;
    }

    // An event handler may release this attachment: keep what the loop needs.
    const std::string source = cachedDirectory_ + tempFilename_;
    const std::string decodingText = pop3_event::Decoding.Text(tempFilename_);
    const WeakRef<TolvanPOP3> owner = owner_;
    if (!platform::IsNormalFile(source))
        return file_result::Missing;
    if (platform::IsNormalFile(Filename))
        return file_result::Exists;

    FileResult result = file_result::Ok;
    platform::File in = platform::File::OpenRead(source, result);
    if (!in.isOpen())
        return SaveCode(result);
    platform::File out = platform::File::CreateNew(Filename, result);
    if (!out.isOpen())
        return SaveCode(result);
    TargetGuard target(Filename);  // also when a handler throws out of an event
    const long long total = in.size();
    if (total < 0)
        return file_result::OtherFailure;

    PieceDecoder decoder(road.decoder);
    BufferedFiles files(in, out);
    std::string piece;
    long long remaining = total;
    do {
        Raise(owner, decodingText, pop3_event::Decoding.task, total, remaining);
        const size_t n = static_cast<size_t>(std::min<long long>(remaining, static_cast<long long>(road.piece)));
        if (int32_t code = files.read(piece, n))
            return code;
        remaining -= static_cast<long long>(n);
        try {
            if (int32_t code = files.write(decoder.decode(piece, remaining == 0)))
                return code;
        } catch (const Error&) {
            return file_result::OtherFailure;  // a character outside the base64 alphabet
        }
    } while (remaining > 0);
    if (int32_t code = files.flush())
        return code;
    out.close();
    target.keep();
    Raise(owner, pop3_event::DecodingDone.Text(), pop3_event::DecodingDone.task, total, 0);
    return file_result::Ok;
}

} // namespace tolmail

// The multipart walk (RFC 2046, section 5.1): every part of a multipart body becomes an
// Attachment, its body kept in memory or streamed to a temporary file.
#include <algorithm>
#include <charconv>
#include <memory>
#include <string_view>

#include "codec/temp_files.h"
#include "codec/wordfunc.h"
#include "model/attachment_impl.h"
#include "platform/library_access.h"
#include "pop3/dot_reader.h"
#include "pop3/international_text.h"
#include "pop3/message_impl.h"
#include "pop3/session.h"

namespace tolmail {

namespace {

// Limits on hostile input.
constexpr int kMaxNesting = 16;              // deepest multipart nesting walked
constexpr int32_t kMaxParts = 1000;          // most parts taken from one message
constexpr size_t kMaxPartHeader = 16 * 1024; // longest part header kept
constexpr size_t kMaxPadding = 256;          // blanks allowed after a boundary on its line
constexpr int kTempNameAttempts = 1000;      // names tried for one temporary file

// Once a part is certain to stay in its file, its data go out in pieces of this size.
constexpr size_t kWriteChunk = 256 * 1024;

const char kEmptyPartHeader[] = "Content-Type: text/plain; charset=US-ASCII\r\n";

/// The part whose body is being collected. Its data stay in memory while the part
/// may still end below the memory limit; once past it, the part's temporary file is
/// created and the data go there. A part that ends below the limit never costs a file.
class OpenPart {
public:
    OpenPart(Ref<Attachment> attachment, std::string directory, int32_t maxMem)
        : attachment_(std::move(attachment)), directory_(std::move(directory)), maxMem_(maxMem)
    {
    }

    /// Appends body text; a failed file creation or write gives its file code.
    int32_t append(std::string_view text)
    {
        pending_.append(text);
        size_ += text.size();
        if (!belowLimit() && pending_.size() >= kWriteChunk)
            return flush();
        return file_result::Ok;
    }

    /// Ends the part: Size set, a body below the limit kept in memory, a larger one
    /// left in its file.
    int32_t close(std::string_view last)
    {
        if (int32_t code = append(last))
            return code;
        AttachmentImpl& fields = LibraryAccess::impl(*attachment_);
        if (belowLimit()) {
            fields.size = std::to_string(size_);
            fields.attachmentBody = std::move(pending_);
            return file_result::Ok;
        }
        if (int32_t code = flush())
            return code;
        file_.close();
        fields.size = std::to_string(size_);
        return file_result::Ok;
    }

private:
    bool belowLimit() const { return static_cast<long long>(size_) < maxMem_; }

    int32_t flush()
    {
        platform::FileResult result = file_result::Ok;
        if (!file_.isOpen()) {
            std::string name;
            file_ = pop3::CreateTempFile(directory_, name, result);
            if (!file_.isOpen())
                return result;
            // From here the attachment owns the file and deletes it when it goes.
            LibraryAccess::impl(*attachment_).tempFilename = name;
        }
        if (!pending_.empty() && !file_.write(pending_.data(), pending_.size(), result))
            return result;
        pending_.clear();
        return file_result::Ok;
    }

    Ref<Attachment> attachment_;
    std::string directory_;
    platform::File file_;
    int32_t maxMem_;
    std::string pending_;
    uint64_t size_ = 0;
};

/// The Content-Type value of an unfolded part header, letter case kept (a boundary
/// is case-sensitive).
std::string ContentTypeValue(const std::string& header)
{
    const std::string upper = pop3::UpperAscii(header);
    const size_t at = upper.find("CONTENT-TYPE:");
    if (at == std::string::npos)
        return {};
    const size_t start = at + 13;
    const size_t end = header.find("\r\n", start);
    return header.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

/// Where the next delimiter line of a boundary stands in the buffer.
struct Delimiter {
    enum Kind { None, Open, Close };
    Kind kind = None;
    size_t at = 0;       // its "--"
    size_t lineEnd = 0;  // just past its line (Open)
    size_t keepFrom = 0; // None: everything before this can no longer begin a delimiter
};

/// One multipart body: the levels of nesting share the buffer and the source.
class Walker {
public:
    Walker(MessageImpl& message, pop3::DotReader& body, std::string& buffer)
        : message_(message), body_(body), buffer_(buffer), maxMem_(message.maxMemAttachment()),
          directory_(message.cachedDirectory())
    {
    }

    int32_t walk(const std::string& boundary, int depth);
    /// Something was left out to stay within the limits (a part header cut short, a
    /// part past the most parts taken).
    bool dropped() const { return dropped_; }

private:
    /// Reads once more; false when nothing more will come.
    bool fill() { return body_.read(buffer_); }
    Delimiter find(const std::string& boundary) const;
    Delimiter classify(size_t at, const std::string& boundary) const;
    /// Drops the first n bytes, noting whether what remains begins a line.
    void consume(size_t n);
    void startPart(const std::string& header, std::unique_ptr<OpenPart>& part);
    /// A part's file could not be created or written: the part is removed, like one
    /// cut short by a failed read, so that nothing looks stored that is not.
    int32_t fileFailed(std::unique_ptr<OpenPart>& part);
    /// A read brought nothing: the open part is cut short and removed.
    int32_t readFailed(std::unique_ptr<OpenPart>& part);
    void removeOpenPart(std::unique_ptr<OpenPart>& part);

    MessageImpl& message_;
    pop3::DotReader& body_;
    std::string& buffer_;
    bool lineStart_ = true;  // the buffer begins at the start of a line
    int32_t parts_ = 0;
    bool dropped_ = false;
    const int32_t maxMem_;
    const std::string directory_;
};

Delimiter Walker::classify(size_t at, const std::string& boundary) const
{
    // A delimiter line: "--" boundary, then "--" (the closing one) or blanks and CR LF.
    const std::string_view buf = buffer_;
    // Only a message that ended settles a line cut at the end of the buffer; after a
    // failed read it stays undecided, and the part it would close is cut short.
    const bool finished = body_.ended();
    Delimiter undecided;
    undecided.keepFrom = at;
    Delimiter none;
    none.keepFrom = buf.size();

    const size_t after = at + 2 + boundary.size();
    if (buf.size() < after) {
        std::string wanted = "--" + boundary;
        if (!finished && std::string_view(wanted).substr(0, buf.size() - at) == buf.substr(at))
            return undecided;
        return none;
    }
    if (buf.substr(at, 2) != "--" || buf.substr(at + 2, boundary.size()) != boundary)
        return none;

    Delimiter found;
    found.at = at;
    if (buf.size() >= after + 2 && buf[after] == '-' && buf[after + 1] == '-') {
        found.kind = Delimiter::Close;
        return found;
    }
    if (buf.size() == after + 1 && buf[after] == '-' && !finished)
        return undecided;
    size_t j = after;
    while (j < buf.size() && (buf[j] == ' ' || buf[j] == '\t') && j - after <= kMaxPadding)
        ++j;
    if (j - after > kMaxPadding)
        return none;
    const bool lineCut = j == buf.size() || (j + 1 == buf.size() && buf[j] == '\r');
    if (lineCut && !finished)
        return undecided;
    if (lineCut) {
        // The message ended on this line: take it as a delimiter all the same.
        found.kind = Delimiter::Open;
        found.lineEnd = buf.size();
        return found;
    }
    if (buf[j] != '\r' || buf[j + 1] != '\n')
        return none;
    found.kind = Delimiter::Open;
    found.lineEnd = j + 2;
    return found;
}

Delimiter Walker::find(const std::string& boundary) const
{
    if (lineStart_) {
        Delimiter first = classify(0, boundary);
        if (first.kind != Delimiter::None || first.keepFrom == 0)
            return first;
    }
    const std::string pattern = "\r\n--" + boundary;
    for (size_t from = 0;;) {
        const size_t i = buffer_.find(pattern, from);
        if (i == std::string::npos) {
            // Keep what could be the start of a delimiter that the next read completes.
            Delimiter none;
            const size_t keep = pattern.size() - 1;
            none.keepFrom = buffer_.size() > keep ? buffer_.size() - keep : 0;
            return none;
        }
        Delimiter candidate = classify(i + 2, boundary);
        if (candidate.kind != Delimiter::None)
            return candidate;
        if (candidate.keepFrom == i + 2) {
            candidate.keepFrom = i;  // undecided until more arrives: keep its CR LF too
            return candidate;
        }
        from = i + 1;
    }
}

void Walker::consume(size_t n)
{
    if (n == 0)
        return;
    if (n >= 2)
        lineStart_ = buffer_[n - 2] == '\r' && buffer_[n - 1] == '\n';
    else
        lineStart_ = false;
    buffer_.erase(0, n);
}

void Walker::startPart(const std::string& header, std::unique_ptr<OpenPart>& part)
{
    if (!message_.Attachments)
        message_.Attachments = LibraryAccess::create<tolmail::Attachments>();
    Ref<Attachment> attachment =
        message_.Attachments->Add(header, "", "", "", "", "", "", "", directory_, message_.Owner);
    ++parts_;
    part = std::make_unique<OpenPart>(std::move(attachment), directory_, maxMem_);
}

int32_t Walker::walk(const std::string& boundary, int depth)
{
    std::unique_ptr<OpenPart> part;

    for (;;) {
        const Delimiter d = find(boundary);

        if (d.kind == Delimiter::None) {
            // No delimiter yet: what can no longer begin one belongs to the open part
            // (or to the preamble, which is dropped).
            // (After a one-byte cut it is unknown whether the rest begins a line.)
            const size_t take = d.keepFrom == 1 ? 0 : d.keepFrom;
            if (part && part->append(std::string_view(buffer_).substr(0, take)) != file_result::Ok)
                return fileFailed(part);
            consume(take);
            if (fill())
                continue;
            if (!body_.ended())
                return readFailed(part);
            // The message ended before its closing delimiter: the open part holds the rest.
            if (part) {
                const int32_t code = part->close(buffer_);
                consume(buffer_.size());
                if (code != file_result::Ok)
                    return fileFailed(part);
            }
            return pop3_result::Ok;
        }

        const size_t bodyEnd = d.at >= 2 ? d.at - 2 : 0;  // the CR LF before "--" is the delimiter's
        if (d.kind == Delimiter::Close) {
            // Without an open part (a nested multipart was the last part) nothing is lost.
            if (!part)
                return pop3_result::Ok;
            const int32_t code = part->close(std::string_view(buffer_).substr(0, bodyEnd));
            consume(d.at);
            lineStart_ = true;
            return code != file_result::Ok ? fileFailed(part) : pop3_result::Ok;
        }
        if (part) {
            const int32_t code = part->close(std::string_view(buffer_).substr(0, bodyEnd));
            if (code != file_result::Ok)
                return fileFailed(part);
            part.reset();
            consume(d.at);
            lineStart_ = true;
            continue;  // the same delimiter now opens the next part
        }

        // A part starts: its header runs to the first empty line.
        consume(d.at);
        lineStart_ = true;
        const size_t lineEnd = d.lineEnd - d.at;
        size_t h = buffer_.find("\r\n\r\n", lineEnd - 2);
        size_t bodyStart = h + 4;
        if (h == std::string::npos) {
            if (buffer_.size() - lineEnd <= kMaxPartHeader) {
                if (fill())
                    continue;
                // A part header that the end of the message cuts off holds no body.
                return body_.ended() ? pop3_result::Ok : readFailed(part);
            }
            h = lineEnd + kMaxPartHeader - 2;  // hostile: cut the header short
            bodyStart = h + 2;
            dropped_ = true;
        }
        std::string header;
        if (h + 2 > lineEnd)
            header = buffer_.substr(lineEnd, std::min(h + 2 - lineEnd, kMaxPartHeader));
        if (h + 2 > lineEnd + kMaxPartHeader)
            dropped_ = true;
        consume(bodyStart);

        header = pop3::UnfoldHeader(header, message_.InternationalText);
        if (header.empty())
            header = kEmptyPartHeader;
        // Only a part that names a multipart type itself is a container; a part
        // without a Content-Type is text (a composer may put other fields first).
        std::string type, subtype, params;
        const std::string value = codec::TrimBlanks(ContentTypeValue(header));
        if (value.find('/') != std::string::npos)
            codec::ParseContentType(value, type, subtype, params);

        if (pop3::UpperAscii(type) == "MULTIPART" && depth < kMaxNesting) {
            // A container: its parts are walked with its own boundary. One without a
            // boundary is skipped like a preamble.
            if (const std::string nested = pop3::BoundaryOf(params); !nested.empty()) {
                if (int32_t code = walk(nested, depth + 1))
                    return code;
            }
            continue;
        }
        if (parts_ >= kMaxParts) {
            dropped_ = true;
            continue;  // its body is skipped up to the next delimiter
        }
        startPart(header, part);
    }
}

void Walker::removeOpenPart(std::unique_ptr<OpenPart>& part)
{
    if (!part)
        return;
    part.reset();
    message_.Attachments->Remove(Variant(message_.Attachments->Count()));  // the open part is the last
}

int32_t Walker::fileFailed(std::unique_ptr<OpenPart>& part)
{
    removeOpenPart(part);
    return message_.Fail(pop3::Failure::TempFile);
}

int32_t Walker::readFailed(std::unique_ptr<OpenPart>& part)
{
    removeOpenPart(part);
    return message_.Fail(body_.failure() == pop3_result::ConnectionLost ? pop3::Failure::ConnectionLost
                                                                  : pop3::Failure::BodyTimedOut);
}

} // namespace

int32_t Message::Impl::WalkMultipart(const std::string& boundary, std::string& buffer, pop3::DotReader& body)
{
    int32_t result = pop3_result::Ok;
    bool dropped = false;
    if (!boundary.empty()) {
        Walker walker(*this, body, buffer);
        result = walker.walk(boundary, 1);
        dropped = walker.dropped();
    }
    // The epilogue and the terminating line must not be read as the next reply.
    if (!body.failed())
        body.drain();
    if (result == pop3_result::Ok && !body.ended())
        result = Fail(body.failure() == pop3_result::ConnectionLost ? pop3::Failure::ConnectionLost
                                                              : pop3::Failure::BodyTimedOut);
    if (result == pop3_result::Ok && dropped)
        result = Fail(pop3::Failure::OverLimits);
    return result;
}

namespace pop3 {

platform::File CreateTempFile(const std::string& directory, std::string& name, platform::FileResult& result,
                              const char* extension)
{
    const std::string first = codec::TempFileName();
    long long number = 0;
    std::from_chars(first.data(), first.data() + first.size(), number);
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        name = std::to_string(number + attempt) + extension;
        platform::File file = platform::File::CreateNew(directory + name, result);
        if (file.isOpen() || result != file_result::Exists)
            return file;
    }
    return {};
}

std::string UnfoldHeader(const std::string& text, bool international)
{
    std::string result;
    for (size_t pos = 0; pos < text.size();) {
        const size_t crlf = text.find("\r\n", pos);
        const size_t next = crlf == std::string::npos ? text.size() : crlf + 2;
        const std::string line =
            codec::TrimBlanks(pop3::HeaderBlanks(international, std::string_view(text).substr(pos, next - pos)));
        pos = next;
        // A line without a field name continues the previous one.
        const bool continuation = line.empty() || line.find(": ") == std::string::npos;
        if (continuation && result.size() >= 2) {
            result.resize(result.size() - 2);
            result += ' ';
        }
        result += line;
        result += "\r\n";
    }
    return result;
}

std::string HeaderValue(const std::string& text, const std::string& name)
{
    const std::string upper = UpperAscii(text);
    const size_t at = upper.find(UpperAscii(name));
    if (at == std::string::npos)
        return {};
    const size_t start = at + name.size();
    const size_t end = upper.find("\r\n", start);
    return upper.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

} // namespace pop3

} // namespace tolmail

// The body readers of GetMessage: a single-part body with one embedded uuencoded file
// lifted out, and the dispatch of a multipart body (RFC 2045, RFC 2046) to the walk.
#include <memory>
#include <string_view>
#include <utility>

#include "codec/temp_files.h"
#include "codec/wordfunc.h"
#include "platform/library_caller.h"
#include "pop3/dot_reader.h"
#include "pop3/message_impl.h"
#include "pop3/progress.h"
#include "pop3/session.h"

namespace tolmail {

namespace {

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

/// Position of `upperNeedle` (given in upper case) in `text` at or after `from`,
/// ignoring letter case; npos when absent.
size_t FindNoCase(std::string_view text, std::string_view upperNeedle, size_t from)
{
    if (upperNeedle.empty() || text.size() < upperNeedle.size())
        return std::string_view::npos;
    const size_t last = text.size() - upperNeedle.size();
    for (size_t i = from; i <= last; ++i) {
        size_t k = 0;
        while (k < upperNeedle.size() && Upper(text[i + k]) == upperNeedle[k])
            ++k;
        if (k == upperNeedle.size())
            return i;
    }
    return std::string_view::npos;
}

bool StartsWithNoCase(std::string_view text, std::string_view upperPrefix)
{
    return text.size() >= upperPrefix.size() && FindNoCase(text.substr(0, upperPrefix.size()), upperPrefix, 0) == 0;
}

// Text goes to a file in blocks of this size; a uuencoded block given back to the
// text is read from its file in pieces of it.
constexpr size_t kBlock = 256 * 1024;
// A line start is held back until its line is whole, up to this length: no longer line
// can be a "begin" or "end" line, and its text is passed on as it comes.
constexpr size_t kLongestScannedLine = 64 * 1024;

/// Where a single-part message's text goes: MessageText, or its file.
class TextSink {
public:
    explicit TextSink(std::string& memory) : memory_(&memory) {}
    explicit TextSink(platform::File file) : file_(std::move(file)) {}

    /// False once a write to the file failed.
    bool write(std::string_view text)
    {
        if (memory_) {
            memory_->append(text);
            return true;
        }
        buffer_.append(text);
        return buffer_.size() < kBlock || flush();
    }

    bool flush()
    {
        if (memory_ || failed_)
            return !failed_;
        platform::FileResult result = file_result::Ok;
        if (!buffer_.empty() && !file_.write(buffer_.data(), buffer_.size(), result))
            failed_ = true;
        buffer_.clear();
        return !failed_;
    }

private:
    std::string* memory_ = nullptr;
    platform::File file_;
    std::string buffer_;
    bool failed_ = false;
};

/// A uuencoded block while its "end" line is awaited: in memory up to the memory limit
/// (a block of exactly the limit stays there), beyond it in a temporary file that the
/// spool deletes unless an attachment takes it over.
class BlockSpool {
public:
    BlockSpool(std::string directory, long long limit) : directory_(std::move(directory)), limit_(limit) {}
    ~BlockSpool()
    {
        file_.close();
        if (!name_.empty())
            (void)codec::DeleteFileIfPresent(directory_ + name_);
    }
    BlockSpool(const BlockSpool&) = delete;
    BlockSpool& operator=(const BlockSpool&) = delete;

    /// False when the temporary file could not be created or written.
    bool append(std::string_view text)
    {
        size_ += text.size();
        memory_.append(text);
        if (static_cast<long long>(size_) <= limit_ || memory_.size() < kBlock)
            return true;
        return spill();
    }

    uint64_t size() const { return size_; }

    /// Ends the block: in memory, or (false on failure) complete in its file.
    bool close()
    {
        if (static_cast<long long>(size_) <= limit_)
            return true;
        const bool written = spill();
        file_.close();
        return written;
    }
    bool inMemory() const { return name_.empty(); }
    std::string takeMemory() { return std::move(memory_); }
    /// The file's name, now the caller's to delete.
    std::string takeFile() { return std::exchange(name_, std::string()); }

    /// Passes the block's text on, in order (a block whose "end" never came).
    bool giveBack(TextSink& sink)
    {
        if (name_.empty())
            return sink.write(memory_);
        file_.close();
        platform::FileResult result = file_result::Ok;
        platform::File in = platform::File::OpenRead(directory_ + name_, result);
        std::string piece(kBlock, '\0');
        long n = 0;
        while (in.isOpen() && (n = in.read(piece.data(), piece.size(), result)) > 0) {
            if (!sink.write(std::string_view(piece).substr(0, static_cast<size_t>(n))))
                return false;
        }
        return in.isOpen() && n == 0 && sink.write(memory_);
    }

private:
    bool spill()
    {
        platform::FileResult result = file_result::Ok;
        if (!file_.isOpen()) {
            if (!name_.empty())
                return false;  // the file was closed after a failure
            file_ = pop3::CreateTempFile(directory_, name_, result);
            if (!file_.isOpen()) {
                name_.clear();
                return false;
            }
        }
        if (!memory_.empty() && !file_.write(memory_.data(), memory_.size(), result))
            return false;
        memory_.clear();
        return true;
    }

    std::string directory_;
    long long limit_;
    std::string memory_;  // not yet in the file
    std::string name_;
    platform::File file_;
    uint64_t size_ = 0;
};

/// Reads a single-part body line by line as it streams in, and lifts out the first
/// uuencoded block (a "begin mode name" line, data lines, an "end" line) as an
/// attachment. The text before and after the block stays the message's text; a block
/// whose "end" never comes is given back to the text in place.
class SinglePartScanner {
public:
    SinglePartScanner(Message::Impl& message, TextSink& text)
        : message_(message), text_(text), directory_(message.cachedDirectory()), maxMem_(message.maxMemAttachment())
    {
    }

    void feed(std::string_view s)
    {
        while (!s.empty() && failure_ == pop3::Failure::None) {
            if (state_ == State::Done && partial_.empty() && !midLine_) {
                emit(s);
                return;
            }
            const size_t lf = s.find('\n');
            const size_t n = lf == std::string_view::npos ? s.size() : lf + 1;
            const std::string_view chunk = s.substr(0, n);
            s.remove_prefix(n);
            if (midLine_) {
                emit(chunk);
                midLine_ = lf == std::string_view::npos;
            } else if (partial_.empty() && lf != std::string_view::npos) {
                line(chunk);
            } else {
                partial_.append(chunk);
                if (lf != std::string_view::npos) {
                    const std::string whole = std::exchange(partial_, std::string());
                    line(whole);
                } else if (partial_.size() > kLongestScannedLine) {
                    // Too long for a "begin" line, but it is the first that looks like one.
                    if (state_ == State::Seeking && StartsWithNoCase(partial_, "BEGIN "))
                        state_ = State::Done;
                    emit(std::exchange(partial_, std::string()));
                    midLine_ = true;
                }
            }
        }
    }

    /// At the terminating line: what is held back goes where it belongs.
    pop3::Failure finish()
    {
        if (!partial_.empty())
            line(std::exchange(partial_, std::string()));
        if (state_ == State::InBlock && failure_ == pop3::Failure::None) {
            state_ = State::Done;
            if (!text_.write(beginLine_) || !block_->giveBack(text_))
                failure_ = pop3::Failure::TextFile;
        }
        if (!text_.flush() && failure_ == pop3::Failure::None)
            failure_ = pop3::Failure::TextFile;
        return failure_;
    }

private:
    enum class State { Seeking, InBlock, Done };

    void emit(std::string_view text)
    {
        if (state_ == State::InBlock) {
            blockEmpty_ = false;
            if (!block_->append(text))
                failure_ = pop3::Failure::TempFile;
        } else if (!text_.write(text)) {
            failure_ = pop3::Failure::TextFile;
        }
    }

    /// A "begin" line counts when it ends with CR LF, its mode has three characters
    /// and it names a file.
    bool beginsBlock(std::string_view whole)
    {
        if (whole.size() < 2 || whole.substr(whole.size() - 2) != "\r\n")
            return false;
        const std::string content(whole.substr(0, whole.size() - 2));
        name_ = codec::GetWord(content, 3);
        return pop3::UpperAscii(codec::GetWord(content, 1)) == "BEGIN" && codec::GetWord(content, 2).size() == 3 &&
               !name_.empty();
    }

    void line(std::string_view whole)
    {
        if (state_ == State::Seeking && StartsWithNoCase(whole, "BEGIN ")) {
            // Only the first "begin" line is looked at, whether or not it counts.
            state_ = State::Done;
            if (beginsBlock(whole)) {
                state_ = State::InBlock;
                beginLine_ = whole;
                block_ = std::make_unique<BlockSpool>(directory_, maxMem_);
                return;
            }
        } else if (state_ == State::InBlock && whole.size() == 5 && StartsWithNoCase(whole, "END\r\n")) {
            state_ = State::Done;
            if (!blockEmpty_) {
                lift();
                return;
            }
            // An empty block is not lifted: its lines stay text.
            block_.reset();
            emit(beginLine_);
        }
        emit(whole);
    }

    void lift()
    {
        if (!block_->close()) {
            failure_ = pop3::Failure::TempFile;
            return;
        }
        const auto caller = detail::libraryCaller();
        if (!message_.Attachments)
            message_.Attachments = tolmail::Attachments::Create(caller);
        Ref<Attachment> attachment =
            message_.Attachments->Add("", "x-uuencode", name_, "", "", "", "", "", directory_, message_.Owner);
        attachment->Size(std::to_string(block_->size()), caller);
        if (block_->inMemory())
            attachment->AttachmentBody(block_->takeMemory(), caller);
        else
            attachment->TempFilename(block_->takeFile(), caller);  // the attachment owns the file now
        block_.reset();
    }

    Message::Impl& message_;
    TextSink& text_;
    const std::string directory_;
    const int32_t maxMem_;
    State state_ = State::Seeking;
    std::string partial_;   // the start of a line not yet whole
    bool midLine_ = false;  // inside a line too long to be held back
    std::string beginLine_;
    std::string name_;
    std::unique_ptr<BlockSpool> block_;
    bool blockEmpty_ = true;
    pop3::Failure failure_ = pop3::Failure::None;
};

pop3::Failure ReadFailure(const pop3::DotReader& body)
{
    return body.failure() == pop3_result::ConnectionLost ? pop3::Failure::ConnectionLost : pop3::Failure::BodyTimedOut;
}

} // namespace

int32_t Message::Impl::ReadSinglePart(pop3::DotReader& body, bool textOnDisk, uint64_t sizeHint)
{
    platform::File file;
    std::string fileName;
    if (textOnDisk) {
        platform::FileResult result = file_result::Ok;
        const std::string directory = cachedDirectory();
        std::string name;
        file = pop3::CreateTempFile(directory, name, result, ".TMB");
        if (!file.isOpen()) {
            body.drain();
            return Fail(pop3::Failure::TextFile);
        }
        fileName = directory + name;
        if (!FullMsgFilename.empty())
            (void)codec::DeleteFileIfPresent(FullMsgFilename);
        FullMsgFilename = fileName;  // from here the message owns the file
    } else {
        // Sized once from the server's announcement: growing by doubling would hold a
        // large text twice while it is copied.
        MessageText.reserve(MessageText.size() + sizeHint);
    }
    TextSink sink = textOnDisk ? TextSink(std::move(file)) : TextSink(MessageText);
    SinglePartScanner scanner(*this, sink);
    std::string piece;
    while (body.read(piece)) {
        scanner.feed(piece);
        piece.clear();
    }
    const pop3::Failure why = body.ended() ? scanner.finish() : ReadFailure(body);
    if (body.ended())
        MessageStatus = 4;
    if (why == pop3::Failure::None)
        return pop3_result::Ok;
    if (textOnDisk) {
        // A text cut short must not be taken for the message.
        (void)codec::DeleteFileIfPresent(fileName);
        FullMsgFilename.clear();
    }
    return Fail(why);
}

int32_t Message::Impl::ReadMultipartBody(int32_t param, pop3::DotReader& body, bool textOnDisk)
{
    if (!ContentParams.empty())
        ContentParams = pop3::BoundaryOf(ContentParams);
    if (!body.ended())
        pop3::Raise(Owner, pop3_event::CheckingMultipart, 0, param);
    // Without a boundary the parts cannot be told apart: the body is kept whole as text.
    if (ContentParams.empty())
        return ReadSinglePart(body, textOnDisk);
    std::string buffer;
    int32_t result = WalkMultipart(ContentParams, buffer, body);
    (void)FinishParts();  // the parts read so far get their fields, even after a failure
    if (result == pop3_result::Ok && textOnDisk)
        result = KeepTextOnDisk();
    return result;
}

int32_t Message::Impl::KeepTextOnDisk()
{
    platform::FileResult result = file_result::Ok;
    const std::string directory = cachedDirectory();
    std::string name;
    platform::File file = pop3::CreateTempFile(directory, name, result, ".TMB");
    if (!file.isOpen())
        return Fail(pop3::Failure::TextFile);
    if (!FullMsgFilename.empty())
        (void)codec::DeleteFileIfPresent(FullMsgFilename);
    FullMsgFilename = directory + name;
    if (!MessageText.empty() && !file.write(MessageText.data(), MessageText.size(), result)) {
        file.close();
        (void)codec::DeleteFileIfPresent(FullMsgFilename);
        FullMsgFilename.clear();
        return Fail(pop3::Failure::TextFile);
    }
    MessageText.clear();
    MessageText.shrink_to_fit();
    return pop3_result::Ok;
}

namespace pop3 {

std::string BoundaryOf(const std::string& params)
{
    // The boundary parameter wherever it stands among the parameters...
    const std::string upper = UpperAscii(params);
    for (size_t at = upper.find("BOUNDARY"); at != std::string::npos; at = upper.find("BOUNDARY", at + 1)) {
        if (at > 0 && upper[at - 1] != ';' && upper[at - 1] != ' ')
            continue;
        size_t p = upper.find_first_not_of(' ', at + 8);
        if (p == std::string::npos || params[p] != '=')
            continue;
        p = params.find_first_not_of(' ', p + 1);
        if (p == std::string::npos)
            return {};
        if (params[p] == '"') {
            const size_t close = params.find('"', p + 1);
            return params.substr(p + 1, close == std::string::npos ? std::string::npos : close - p - 1);
        }
        const size_t end = params.find_first_of("; ", p);
        return params.substr(p, end == std::string::npos ? std::string::npos : end - p);
    }
    // ...else the text after the first "=", quotes blanked out.
    const size_t eq = params.find('=');
    if (eq == std::string::npos)
        return {};
    return codec::TrimBlanks(codec::BlankOut(std::string_view(params).substr(eq + 1), "\""));
}

} // namespace pop3

} // namespace tolmail

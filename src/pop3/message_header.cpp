// The two header readers (RFC 1939, RFC 5322): FetchHeader after "LIST" and
// "TOP n 0", and GetMessage after "RETR", which then hands the body to its reader.
#include <algorithm>
#include <string_view>
#include <utility>

#include "codec/temp_files.h"
#include "codec/wordfunc.h"
#include "platform/library_access.h"
#include "pop3/dot_reader.h"
#include "pop3/header_parse.h"
#include "pop3/international_text.h"
#include "pop3/message_impl.h"
#include "pop3/pop3_impl.h"
#include "pop3/progress.h"
#include "pop3/raw_copy.h"
#include "pop3/session.h"
#include "tolmail/socket_codes.h"

namespace tolmail {

namespace {

using pop3::Failure;

constexpr int32_t kDeleteFlag = 2;  // GetMessage's param: delete at the server afterwards
constexpr int32_t kTextOnDisk = 4;  // GetMessage's param: the message text goes to a file
constexpr int32_t kRawOnDisk = 8;   // GetMessage's param: the message as it arrived goes to a file

/// Reads one header line. What arrived before the server closed is read first; the
/// closed connection counts only when nothing of it is left.
Failure ReadHeaderLine(TolvanSocket& socket, std::string& line)
{
    const int32_t code = socket.GetlnData(line);
    if (!line.empty())
        return Failure::None;
    if (code == socket_result::LineTooLong)
        return Failure::LineTooLong;
    return code == socket_result::NotConnected ? Failure::ConnectionLost : Failure::BodyTimedOut;
}

/// Reads a header to its end (the empty line, or the terminating line of a message
/// without a body); `ended` tells which. On failure the session is back in step (a
/// line over the limit: the rest was read to the terminator) or abandoned. Every line
/// but the terminator also goes to `raw` when there is one.
int32_t ReadHeader(MessageImpl& message, pop3::HeaderScan& scan, bool& ended, pop3::RawCopy* raw = nullptr)
{
    std::string line;
    ended = false;
    for (;;) {
        const Failure why = ReadHeaderLine(*message.Socket, line);
        if (why == Failure::LineTooLong) {
            message.DrainLines();
            return message.Fail(why);
        }
        if (why != Failure::None) {
            message.Abandon();  // a stalled server may still send the rest
            return message.Fail(why);
        }
        const pop3::HeaderLine kind = pop3::TakeHeaderLine(message, scan, line);
        if (kind == pop3::HeaderLine::Terminator) {
            ended = true;
            return pop3_result::Ok;
        }
        if (raw)
            raw->headerLine(line);
        if (kind == pop3::HeaderLine::Blank && scan.reader == pop3::HeaderReader::Retr)
            return pop3_result::Ok;
    }
}

/// Sends a command and reads its reply: Failure::None with text in `talk`, or why none
/// came. A command that may have gone out in part, a time-out or an overlong reply
/// leaves the session's place unknown: it is abandoned.
Failure Exchange(MessageImpl& message, socket::Dialogue& talk, const std::string& command)
{
    if (talk.command(command) != socket_result::Ok) {
        message.Abandon();
        return Failure::ConnectionLost;
    }
    const int32_t code = talk.readReply();
    if (!talk.reply().empty())
        return Failure::None;
    if (code == socket_result::NotConnected)
        return Failure::ConnectionLost;
    message.Abandon();
    return code == socket_result::LineTooLong ? Failure::BadReply : Failure::RetrTimedOut;
}

/// A body that has already ended (the message ended inside its header).
pop3::DotReader EndedBody()
{
    return pop3::DotReader([](std::string& piece) {
        piece = ".\r\n";
        return true;
    });
}

/// The size a "+OK n octets" reply announces; 0 when it names none.
uint64_t AnnouncedSize(const std::string& reply)
{
    // Only a hint for reserving memory: a server that overstates it costs address
    // space, not memory, and the cap keeps even that modest.
    constexpr uint64_t kLargestHint = 1ull << 30;
    return std::min<uint64_t>(static_cast<uint64_t>(pop3::LeadingNumber(codec::GetWord(reply, 2))), kLargestHint);
}

} // namespace

int32_t Message::GetMessage(int32_t param)
{
    Impl& message = *impl_;
    message.ContentType.clear();
    message.CompleteHeader.clear();
    message.failure = Failure::None;
    message.failureDetail.clear();
    pop3::Raise(message.Owner, pop3_event::Retrieving, 0, param);
    int32_t result = message.RetrieveMessage(param);
    if (result != pop3_result::Ok || (param & kDeleteFlag) == 0) {
        message.ReportFailure();
        return result;
    }
    // Only a message whose terminator was read and whose text and parts were all
    // stored gets here.
    pop3::Raise(message.Owner, pop3_event::Deleting, 0, param);
    result = DeleteAtServer();
    message.MessageStatus = 8;
    return result;
}

int32_t Message::Impl::RetrieveMessage(int32_t param)
{
    if (!connected())
        return Fail(Failure::NotConnected);
    socket::Dialogue talk = pop3::StatusDialogue(*Socket);
    if (const Failure why = Exchange(*this, talk, "RETR " + std::to_string(ServerNumber)); why != Failure::None)
        return Fail(why);
    if (codec::GetWord(talk.reply(), 1) == "-ERR")
        return Fail(Failure::RetrRefused);
    if (!pop3::StartsWith(talk.reply(), "+OK")) {
        // Whatever this is, what follows cannot be taken for the message.
        Abandon();
        return Fail(Failure::BadReply);
    }
    talk.messageFollows(false);
    const uint64_t sizeHint = AnnouncedSize(talk.reply());

    // A copy from an earlier retrieval would be taken for this one.
    if (!RawMsgFilename.empty())
        (void)codec::DeleteFileIfPresent(std::exchange(RawMsgFilename, std::string()));
    const bool keepRaw = (param & kRawOnDisk) != 0;
    pop3::RawCopy raw;
    if (keepRaw && !raw.create(cachedDirectory())) {
        DrainLines();  // as for the text file: the next reply is read in step
        return Fail(Failure::RawFile, raw.why());
    }

    InternationalText = internationalText();
    TransferEncoding.clear();
    pop3::HeaderScan scan(pop3::HeaderReader::Retr);
    bool messageEnded = false;
    if (int32_t result = ReadHeader(*this, scan, messageEnded, keepRaw ? &raw : nullptr))
        return result;  // the unfinished copy removes itself
    pop3::FinishHeader(*this, scan, MessageStatus != 2);

    const bool multipart = pop3::UpperAscii(ContentType) == "MULTIPART";
    const bool textOnDisk = (param & kTextOnDisk) != 0;
    pop3::DotReader body = messageEnded ? EndedBody() : pop3::DotReader::FromSocket(*Socket);
    if (keepRaw)
        body.copyTo([&raw](std::string_view text) { raw.body(text); });
    int32_t result = pop3_result::Ok;
    if (multipart) {
        result = ReadMultipartBody(param, body, textOnDisk);
    } else {
        if (!messageEnded)
            pop3::Raise(Owner, pop3_event::CheckingNonMime, 0, param);
        const size_t textBefore = MessageText.size();  // a second retrieval appends
        result = ReadSinglePart(body, textOnDisk, sizeHint);
        if (result == pop3_result::Ok && InternationalText)
            result = ConvertSinglePartText(textBefore, textOnDisk);
        if (result == pop3_result::Ok)
            result = FinishParts();
    }
    if (!body.ended())
        Abandon();  // a failed read left the rest of the message on its way
    if (keepRaw) {
        // Only a copy of the whole message is kept: one cut short must not pass for it.
        if (body.ended() && raw.finish()) {
            RawMsgFilename = raw.path();
        } else {
            raw.discard();
            if (body.ended() && result == pop3_result::Ok)
                result = Fail(Failure::RawFile, raw.why());
        }
    }
    if (result == pop3_result::Ok && scan.dropped)
        result = Fail(Failure::OverLimits);
    return result;
}

int32_t Message::Impl::ConvertSinglePartText(size_t from, bool onDisk)
{
    // A body of another type (a lone image) is no text to convert.
    const std::string type = pop3::UpperAscii(ContentType);
    if (!type.empty() && type != "TEXT")
        return pop3_result::Ok;
    if (!onDisk) {
        from = std::min(from, MessageText.size());
        const std::string text =
            pop3::BodyText(std::string_view(MessageText).substr(from), TransferEncoding, ContentParams);
        MessageText.resize(from);
        MessageText += text;
        CharSet = "UTF-8";
        return pop3_result::Ok;
    }
    // The text file is converted whole in memory: up to a size no mail text reaches,
    // so that memory stays bounded; a larger one stays as it came.
    constexpr long long kLargestConverted = 16ll << 20;
    platform::FileResult opened = file_result::Ok;
    const long long size = platform::File::OpenRead(FullMsgFilename, opened).size();
    if (size < 0 || size > kLargestConverted)
        return pop3_result::Ok;
    std::string text;
    if (codec::ReadWholeFile(FullMsgFilename, text) != file_result::Ok)
        return Fail(Failure::TextFile);
    MessageText = pop3::BodyText(text, TransferEncoding, ContentParams);
    if (const int32_t result = KeepTextOnDisk(); result != pop3_result::Ok)
        return result;
    CharSet = "UTF-8";
    return pop3_result::Ok;
}

int32_t TolvanPOP3::Impl::FetchHeader(int32_t n, const Ref<tolmail::Messages>& into, const WeakRef<TolvanPOP3>& self,
                                      Ref<Message>& created)
{
    raise(pop3_event::EmailHeader, 0, n);
    created = pop3::AddMessage(*into, n, self);
    MessageImpl& message = LibraryAccess::impl(*created);
    const int32_t result = message.FetchHeader();
    POP3Error = pop3::RowOf(message.failure).text;
    return result;
}

int32_t Message::Impl::FetchHeader()
{
    failure = Failure::None;
    if (!connected())
        return Fail(Failure::NotConnected);
    const std::string number = std::to_string(ServerNumber);
    socket::Dialogue talk = pop3::StatusDialogue(*Socket);
    if (const Failure why = Exchange(*this, talk, "LIST " + number); why != Failure::None)
        return Fail(why);
    if (!pop3::StartsWith(talk.reply(), "+OK")) {
        if (pop3::StartsWith(talk.reply(), "-ERR"))
            return Fail(Failure::RetrRefused);
        failure = Failure::BadReply;
        return pop3_result::UnexpectedListReply;  // a reply that is neither: the server is not answering this dialogue
    }
    Size = codec::GetWord(talk.reply(), 3);
    MessageStatus = 1;
    if (const Failure why = Exchange(*this, talk, "TOP " + number + " 0"); why != Failure::None)
        return Fail(why);
    if (!pop3::StartsWith(talk.reply(), "+OK"))
        return pop3_result::Ok;  // the server keeps this header to itself; the loop goes on
    talk.messageFollows(false);

    InternationalText = internationalText();
    pop3::HeaderScan scan(pop3::HeaderReader::Top);
    bool ended = false;
    if (int32_t result = ReadHeader(*this, scan, ended))
        return result;
    pop3::FinishHeader(*this, scan, true);
    MessageStatus = 2;
    return pop3_result::Ok;
}

} // namespace tolmail

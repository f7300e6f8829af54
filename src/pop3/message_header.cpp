// The two header readers (RFC 1939, RFC 5322): FetchHeader after "LIST" and
// "TOP n 0", and GetMessage after "RETR", which then hands the body to its reader.
#include "codec/wordfunc.h"
#include "platform/library_caller.h"
#include "pop3/header_parse.h"
#include "pop3/message_impl.h"
#include "pop3/pop3_impl.h"
#include "pop3/progress.h"
#include "pop3/session.h"

namespace tolmail {

namespace {

constexpr int32_t kDeleteFlag = 2;  // GetMessage's param: delete at the server afterwards

/// Reads one header line; 0, or 1 when none came, 2 when the connection is gone.
int32_t ReadHeaderLine(Message::Impl& message, std::string& line)
{
    if (!message.connected())
        return 2;
    pop3::ReadLine(*message.Socket, line);
    if (!line.empty())
        return 0;
    return message.connected() ? 1 : 2;
}

} // namespace

int32_t Message::GetMessage(int32_t param)
{
    Impl& message = *impl_;
    message.ContentType.clear();
    message.CompleteHeader.clear();
    pop3::Raise(message.Owner, pop3::Progress::Retrieving, 0, param);
    if (message.connected()) {
        int32_t result = message.RetrieveMessage(param);
        if (result != 0)
            return result;
    }
    int32_t result = message.FinishParts();
    if (result != 0 || (param & kDeleteFlag) == 0)
        return result;
    pop3::Raise(message.Owner, pop3::Progress::Deleting, 0, param);
    result = DeleteAtServer();
    message.MessageStatus = 8;
    return result;
}

int32_t Message::Impl::RetrieveMessage(int32_t param)
{
    std::string line;
    pop3::SendCommand(*Socket, "RETR " + std::to_string(ServerNumber));
    pop3::ReadLine(*Socket, line);
    if (codec::GetWord(line, 1) == "-ERR")
        return 16;
    if (line.empty())
        return 1;

    pop3::HeaderScan scan(pop3::HeaderReader::Retr);
    bool messageEnded = false;
    for (;;) {
        int32_t result = ReadHeaderLine(*this, line);
        if (result != 0)
            return result;
        pop3::HeaderLine kind = pop3::TakeHeaderLine(*this, scan, line);
        if (kind == pop3::HeaderLine::Blank)
            break;
        // A message without a body ends inside its header: nothing is left to read.
        if (kind == pop3::HeaderLine::Terminator) {
            messageEnded = true;
            break;
        }
    }
    pop3::FinishHeader(*this, scan, MessageStatus != 2);

    const bool multipart = pop3::UpperAscii(ContentType) == "MULTIPART";
    if (messageEnded) {
        if (!multipart)
            MessageStatus = 4;
        return 0;
    }
    if (multipart) {
        (void)ReadMultipartBody(param);  // the finishing step reports instead
        return 0;
    }
    pop3::Raise(Owner, pop3::Progress::CheckingNonMime, 0, param);
    return ReadSinglePart();
}

int32_t TolvanPOP3::Impl::FetchHeader(int32_t n, const Ref<tolmail::Messages>& into, const WeakRef<TolvanPOP3>& self,
                                      Ref<Message>& created)
{
    const detail::Caller library = detail::libraryCaller();
    raise(pop3::Progress::EmailHeader, 0, n);
    created = into->AddMessage(n, "", "", "", "", "", "", "", 0, "", "", "", "", "", "", "", self, "", library);
    Message::Impl& message = created->impl(library);

    std::string line;
    if (message.connected()) {
        const std::string number = std::to_string(n);
        pop3::SendCommand(*message.Socket, "LIST " + number);
        pop3::ReadLine(*message.Socket, line);
        if (!pop3::StartsWith(line, "+OK")) {
            if (pop3::StartsWith(line, "-ERR"))
                return 16;
            return line.empty() ? 1 : 2;
        }
        message.Size = codec::GetWord(line, 3);
        message.MessageStatus = 1;
        pop3::SendCommand(*message.Socket, "TOP " + number + " 0");
        pop3::ReadLine(*message.Socket, line);
        if (!pop3::StartsWith(line, "+OK"))
            return 0;  // the server keeps this header to itself; the loop goes on
    }

    pop3::HeaderScan scan(pop3::HeaderReader::Top);
    for (;;) {
        int32_t result = ReadHeaderLine(message, line);
        if (result != 0)
            return result;
        if (pop3::TakeHeaderLine(message, scan, line) == pop3::HeaderLine::Terminator)
            break;
    }
    pop3::FinishHeader(message, scan, true);
    message.MessageStatus = 2;
    return 0;
}

} // namespace tolmail

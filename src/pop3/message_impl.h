// The state of a Message and the retrieval steps that fill it. The header readers
// live in message_header.cpp, the body readers and the finishing step in
// message_body.cpp / mime_walk.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tolmail/Attachments.h"
#include "tolmail/Message.h"
#include "tolmail/Recipients.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/TolvanSocket.h"
#include "platform/files.h"
#include "platform/hidden.h"
#include "platform/library_access.h"
#include "pop3/retrieval.h"

namespace tolmail {

namespace pop3 {
class DotReader;
}

class TOLMAIL_HIDDEN Message::Impl {
public:
    // Public fields, in the order of the interface.
    std::string CharSet;
    Ref<tolmail::Recipients> Recipients;
    Ref<tolmail::Attachments> Attachments;
    std::string Subject;
    std::string Size;
    std::string ReplyToAddress;
    std::string ReplyToName;
    std::string Priority;
    std::string MessageText;
    std::string MessageId;
    std::string UniqueId;
    int32_t MessageStatus = 0;
    std::string CompleteHeader;
    std::string FullMsgFilename;
    std::string RawMsgFilename;
    std::string FromAddress;
    std::string FromName;
    std::string DateTime;
    std::string ContentType;
    std::string ContentSubType;
    bool IsMIME = false;
    std::string ReturnReceipt;

    // Private fields.
    int32_t ServerNumber = 0;
    std::string ContentParams;
    std::string TransferEncoding;    // the message's Content-Transfer-Encoding
    bool InternationalText = false;  // the component's mode when this message was last read
    Ref<TolvanSocket> Socket;     // counted: the message keeps the connection object alive
    WeakRef<TolvanPOP3> Owner;    // never dangles: a message that outlives its component stops reaching it

    /// True while the message's socket holds a connection (false when it has none).
    bool connected() const;

    // Settings read through the back-reference (defaults when the component is gone).
    std::string cachedDirectory() const;
    std::string alternativeType() const;
    int32_t maxMemAttachment() const;
    bool internationalText() const;

    /// Why the last retrieval step failed; POP3Error gives its text.
    pop3::Failure failure = pop3::Failure::None;
    /// What the system said about it (a file and its reason), appended to the text.
    std::string failureDetail;
    /// Records why a step failed and returns its result code.
    int32_t Fail(pop3::Failure why, std::string detail = {});
    /// Hands the text of `failure` to the component's POP3Error.
    void ReportFailure() const;
    /// Ends a session whose place in the server's stream is unknown: the socket closes
    /// without "QUIT", so the server commits no deletion made in this session.
    void Abandon();
    /// Reads whole lines up to the terminating "." line after a failure in a header,
    /// so the next reply is read in step; abandons the session when that fails.
    void DrainLines();

    /// GetMessage's dialogue: "RETR", the header, then the body reader its type asks
    /// for and the finishing step. 0 only when the terminating line was read and
    /// everything was stored; otherwise the session is back in step or abandoned.
    int32_t RetrieveMessage(int32_t param);
    /// FetchHeader's dialogue: "LIST", "TOP n 0" and the header.
    int32_t FetchHeader();
    /// "DELE": ConnectionLost (none, or lost before the reply), NoReply (the session
    /// abandoned), Refused, else Ok.
    int32_t DeleteAtServer();

    // The body readers over any source of the body, so that tests and fuzzers can feed
    // a buffer. Both read to the terminating line unless a read fails; the source's
    // ended() then tells whether the stream is still in step.
    /// A single-part body: the text goes to MessageText, or with `textOnDisk` to a
    /// new file named by FullMsgFilename; one uuencoded block becomes an attachment.
    /// `sizeHint` (the octets the server announced) lets MessageText be sized once.
    int32_t ReadSinglePart(pop3::DotReader& body, bool textOnDisk = false, uint64_t sizeHint = 0);
    /// Walks a multipart body; a part cut short by a failed read is removed.
    int32_t WalkMultipart(const std::string& boundary, std::string& buffer, pop3::DotReader& body);
    /// The multipart dispatch: ContentParams becomes the boundary, task 12 is raised,
    /// the body walked (a body without a boundary is read as a single part), the
    /// finishing step run, and with `textOnDisk` the chosen text written to its file.
    int32_t ReadMultipartBody(int32_t param, pop3::DotReader& body, bool textOnDisk);
    int32_t FinishParts();
    /// The international reading of a single-part text body: MessageText from `from` on
    /// (or with `onDisk` the text's file) decoded and converted to UTF-8.
    int32_t ConvertSinglePartText(size_t from, bool onDisk);
    /// Moves MessageText into a new ".TMB" file named by FullMsgFilename.
    int32_t KeepTextOnDisk();
};

using MessageImpl = LibraryAccess::Of<Message>::Impl;

namespace pop3 {
/// Appends a new, empty message for server message `serverNumber` that reaches its
/// component (and that component's socket) through `owner`. A key already present
/// throws Error(errc::DuplicateKey) and adds nothing.
Ref<Message> AddMessage(Messages& into, int32_t serverNumber, const WeakRef<TolvanPOP3>& owner,
                        const std::string& key = {});

/// Gives `message` the id of server message `number` from a UIDL listing by number.
void SetUniqueId(Message& message, const std::vector<std::string>& ids, int32_t number);

// The header-line and message-body helpers share these.
/// `international`: byte 160 is kept (see HeaderBlanks).
std::string UnfoldHeader(const std::string& text, bool international = false);
std::string HeaderValue(const std::string& text, const std::string& name);

/// The boundary in a multipart Content-Type's parameter text.
std::string BoundaryOf(const std::string& params);

/// Creates a new, empty temporary file (tick count + `extension`) in `directory`,
/// exclusively and readable by its owner only; a name already taken (a part begun in
/// the same millisecond, a leftover file) is passed over for the next number. Sets
/// `name` to the bare file name; on failure the file is not open and `result` says why.
platform::File CreateTempFile(const std::string& directory, std::string& name, platform::FileResult& result,
                              const char* extension = ".TMA");
} // namespace pop3

} // namespace tolmail

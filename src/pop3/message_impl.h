// The state of a Message and the retrieval steps that fill it. The header readers
// live in message_header.cpp, the body readers and the finishing step in
// message_body.cpp / mime_walk.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "tolmail/Attachments.h"
#include "tolmail/Message.h"
#include "tolmail/Recipients.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/TolvanSocket.h"
#include "platform/files.h"

namespace tolmail {

namespace pop3 {
class DotReader;
}

class Message::Impl {
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
    int32_t MessageStatus = 0;
    std::string CompleteHeader;
    std::string FullMsgFilename;
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
    Ref<TolvanSocket> Socket;     // counted: the message keeps the connection object alive
    WeakRef<TolvanPOP3> Owner;    // never dangles: a message that outlives its component stops reaching it

    /// True while the message's socket holds a connection (false when it has none).
    bool connected() const;

    // Settings read through the back-reference (defaults when the component is gone).
    std::string cachedDirectory() const;
    std::string alternativeType() const;
    int32_t maxMemAttachment() const;
    /// Raises OnPOP3Event through the component, if it still exists.
    void raiseProgress(const std::string& text, int32_t task, int32_t param1, int32_t param2) const;

    /// GetMessage's dialogue: "RETR", the header, then the body reader its type asks for.
    /// 0 when the finishing step should run, else GetMessage's result.
    int32_t RetrieveMessage(int32_t param);

    // Body reading and finishing (message_body.cpp, mime_walk.cpp).
    int32_t ReadSinglePart();
    int32_t WalkMultipart(const std::string& boundary, std::string& buffer);
    int32_t FinishParts();

    /// The multipart dispatch: ContentParams becomes the boundary, task 12 is raised
    /// and the body is walked (its result is not used by GetMessage).
    int32_t ReadMultipartBody(int32_t param);
    // The body readers over any source of the body, so that tests and fuzzers can feed
    // a buffer; the members above read the socket. Both leave the source drained.
    int32_t ReadSinglePart(pop3::DotReader& body);
    int32_t WalkMultipart(const std::string& boundary, std::string& buffer, pop3::DotReader& body);
};

/// The header-line and message-body helpers share these.
namespace pop3 {
std::string UnfoldHeader(const std::string& text);
std::string HeaderValue(const std::string& text, const std::string& name);

/// The boundary in a multipart Content-Type's parameter text.
std::string BoundaryOf(const std::string& params);

/// Creates a new, empty temporary file (tick count + ".TMA") in `directory`,
/// exclusively and readable by its owner only; a name already taken (a part begun in
/// the same millisecond, a leftover file) is passed over for the next number. Sets
/// `name` to the bare file name; on failure the file is not open and `result` says why.
platform::File CreateTempFile(const std::string& directory, std::string& name, platform::FileResult& result);
} // namespace pop3

} // namespace tolmail

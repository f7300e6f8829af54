// The finishing step of GetMessage: each part's own header (RFC 2045) read into its
// Attachment, and the message text chosen among the parts.
#include "codec/encoded_word_decoder.h"
#include "codec/quoted_printable.h"
#include "codec/wordfunc.h"
#include "model/attachment_impl.h"
#include "platform/library_access.h"
#include "pop3/international_text.h"
#include "pop3/message_impl.h"
#include "pop3/session.h"

namespace tolmail {

namespace {

const char kDigestText[] = "MultiPart Message Digest, please refer to the attachments";

/// A header value with its double quotes blanked out, trimmed.
std::string Unquoted(const std::string& value)
{
    return codec::TrimBlanks(codec::BlankOut(value, "\""));
}

/// Splits a part's Content-Type value. A value without "/" is the major type alone;
/// an empty one leaves the previous part's values in place.
void SplitContentType(const std::string& value, std::string& type, std::string& subtype, std::string& params)
{
    if (value.empty())
        return;
    if (value.find('/') != std::string::npos) {
        codec::ParseContentType(value, type, subtype, params);
        return;
    }
    type = value;
    subtype.clear();
    params.clear();
}

/// The part's body as message text, quoted-printable decoded when it says so; in the
/// international reading decoded whatever its encoding and converted to UTF-8.
std::string TextOf(const Attachment& part, bool international, const std::string& params)
{
    if (international)
        return pop3::BodyText(part.AttachmentBody(), part.Encoding(), params);
    std::string text = part.AttachmentBody();
    if (!text.empty() && pop3::UpperAscii(part.Encoding()) == "QUOTED-PRINTABLE")
        return codec::QpDecode(text);
    return text;
}

} // namespace

int32_t Message::Impl::FinishParts()
{
    if (!Attachments)
        return pop3_result::Ok;
    const std::string preferred = alternativeType();
    const std::string messageType = pop3::UpperAscii(ContentType);
    const std::string messageSubType = pop3::UpperAscii(ContentSubType);
    const bool multipart = messageType == "MULTIPART";
    bool chosen = false;
    // A part whose header names no type keeps the previous part's values.
    std::string type, subtype, params;

    const int32_t count = Attachments->Count();
    for (int32_t i = 1; i <= count; ++i) {
        const Ref<Attachment> part = Attachments->Item(Variant(i));
        const std::string header = part->Description();
        // The international reading takes a part's parameters from its own header only:
        // a name carried over from the part before would be saved twice.
        std::string paramsAsWritten;
        if (!header.empty()) {
            SplitContentType(codec::TrimBlanks(pop3::HeaderValue(header, "Content-Type:")), type, subtype, params);
            AttachmentImpl& fields = LibraryAccess::impl(*part);
            fields.encoding = Unquoted(pop3::HeaderValue(header, "Content-transfer-encoding: "));
            fields.contentType = type;
            fields.contentSubType = subtype;
            if (!params.empty())
                fields.filename = Unquoted(pop3::HeaderValue(params, "name="));
            fields.description = Unquoted(pop3::HeaderValue(header, "Content-Description:"));
            if (InternationalText) {
                std::string typeAsWritten, subtypeAsWritten;
                codec::ParseContentType(pop3::FieldText(header, "Content-Type"), typeAsWritten, subtypeAsWritten,
                                        paramsAsWritten);
                fields.filename = pop3::AttachmentName(paramsAsWritten, pop3::FieldText(header, "Content-Disposition"));
                fields.description = codec::DecodeEncodedWords(pop3::FieldText(header, "Content-Description"));
            }
        }
        if (!multipart)
            continue;
        const bool textPart = pop3::UpperAscii(type) == "TEXT";
        if (messageSubType == "ALTERNATIVE" && textPart) {
            // The first text alternative stands until the preferred one is found.
            if (!chosen)
                MessageText = TextOf(*part, InternationalText, paramsAsWritten);
            if (subtype == preferred)
                chosen = true;
        } else if (messageSubType == "DIGEST") {
            AttachmentImpl& fields = LibraryAccess::impl(*part);
            fields.contentType = "message";
            fields.contentSubType = "rfc822";
            MessageText = kDigestText;
        } else if (i == 1 && textPart) {
            MessageText = TextOf(*part, InternationalText, paramsAsWritten);
        }
    }
    if (multipart && InternationalText)
        CharSet = "UTF-8";
    return pop3_result::Ok;
}

} // namespace tolmail

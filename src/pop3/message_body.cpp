// The body readers of GetMessage: a single-part body with one embedded uuencoded file
// lifted out, and the dispatch of a multipart body (RFC 2045, RFC 2046) to the walk.
#include <string_view>

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

/// The first "begin " that starts a line; prose that merely contains the word does
/// not start a uuencoded block.
size_t FindBeginLine(std::string_view text)
{
    for (size_t at = FindNoCase(text, "BEGIN ", 0); at != std::string_view::npos;
         at = FindNoCase(text, "BEGIN ", at + 1)) {
        if (at == 0 || text[at - 1] == '\n')
            return at;
    }
    return std::string_view::npos;
}

} // namespace

int32_t Message::Impl::ReadSinglePart()
{
    if (!Socket)
        return 1;
    pop3::DotReader body = pop3::DotReader::FromSocket(*Socket);
    return ReadSinglePart(body);
}

int32_t Message::Impl::ReadSinglePart(pop3::DotReader& body)
{
    while (body.read(MessageText)) {
    }
    if (!body.ended())
        return 1;  // a read brought nothing: time-out or lost connection

    // One embedded uuencoded file: a "begin mode name" line, data lines, an "end" line.
    MessageStatus = 4;
    const size_t b = FindBeginLine(MessageText);
    if (b == std::string::npos)
        return 0;
    const size_t e = MessageText.find("\r\n", b);
    if (e == std::string::npos)
        return 0;
    const std::string beginLine = MessageText.substr(b, e - b);
    const std::string name = codec::GetWord(beginLine, 3);
    if (pop3::UpperAscii(codec::GetWord(beginLine, 1)) != "BEGIN" || codec::GetWord(beginLine, 2).size() != 3 ||
        name.empty())
        return 0;
    // The "end" line must stand on a line of its own: data lines may hold those letters.
    const size_t endLine = FindNoCase(MessageText, "\r\nEND\r\n", e);
    if (endLine == std::string::npos || endLine == e)
        return 0;

    const auto caller = detail::libraryCaller();
    if (!Attachments)
        Attachments = tolmail::Attachments::Create(caller);
    const std::string directory = cachedDirectory();
    Ref<Attachment> attachment = Attachments->Add("", "x-uuencode", name, "", "", "", "", "", directory, Owner);
    std::string encoded = MessageText.substr(e + 2, endLine + 2 - (e + 2));
    MessageText.resize(b);
    attachment->Size(std::to_string(encoded.size()), caller);

    // A block of exactly the memory limit stays in memory (parts of the walk do not).
    if (static_cast<long long>(encoded.size()) <= maxMemAttachment()) {
        attachment->AttachmentBody(std::move(encoded), caller);
        return 0;
    }
    platform::FileResult result = platform::FileOk;
    std::string tempName;
    platform::File file = pop3::CreateTempFile(directory, tempName, result);
    if (!file.isOpen())
        return 4;
    attachment->TempFilename(tempName, caller);  // from here the attachment owns the file
    return file.write(encoded.data(), encoded.size(), result) ? 0 : 4;
}

int32_t Message::Impl::ReadMultipartBody(int32_t param)
{
    if (!ContentParams.empty())
        ContentParams = pop3::BoundaryOf(ContentParams);
    pop3::Raise(Owner, pop3::Progress::CheckingMultipart, 0, param);
    std::string buffer;
    return WalkMultipart(ContentParams, buffer);
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

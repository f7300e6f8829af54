// TolvanSMTP and messages kept in files: one composed elsewhere sent as it stands, and
// the composed message written out instead of sent (RFC 5321 4.5.2, RFC 5322 2.3).
#include <string_view>

#include "codec/wordfunc.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "smtp/data_writer.h"
#include "smtp/line_ends.h"
#include "smtp/smtp_impl.h"

namespace tolmail {

namespace {

constexpr size_t kReadSize = 64 * 1024;

std::string fileFailureText(int32_t rc)
{
    if (rc == file_result::Missing)
        return "The message file is missing; the message was not sent";
    if (rc == smtp::kChangedWhileSent)
        return "The message file changed while it was sent; the message was not sent";
    return "The message file could not be read; the message was not sent";
}

/// Reads `file` of `length` bytes into `out` with its line ends made CR LF and a last
/// line end added where it is missing. file_result::Ok, the read failure, or
/// kChangedWhileSent when the file did not hold exactly `length` bytes: what was sent
/// would then be neither the old message nor the new one.
int32_t streamMessage(platform::File& file, long long length, smtp::DataWriter& out)
{
    smtp::LineEndNormalizer normalizer;
    std::string buffer(kReadSize, '\0');
    std::string normalized;
    long long total = 0;
    bool endsWithLineEnd = true;  // an empty file needs none
    for (;;) {
        platform::yieldPoint();
        platform::FileResult result = file_result::Ok;
        const long n = file.read(buffer.data(), buffer.size(), result);
        if (n < 0)
            return result == file_result::Ok ? file_result::OtherFailure : result;
        if (n == 0)
            break;
        total += n;
        if (total > length)
            return smtp::kChangedWhileSent;
        normalized.clear();
        normalizer.feed(std::string_view(buffer.data(), static_cast<size_t>(n)), normalized);
        const char last = buffer[static_cast<size_t>(n) - 1];
        endsWithLineEnd = last == '\n' || last == '\r';
        if (out.sendData(normalized) != socket_result::Ok)
            return file_result::Ok;  // the writer knows why
    }
    if (total != length)
        return smtp::kChangedWhileSent;
    normalized.clear();
    normalizer.finish(normalized);
    if (!endsWithLineEnd)
        normalized += "\r\n";
    out.sendData(normalized);
    return file_result::Ok;
}

} // namespace

int32_t TolvanSMTP::Impl::SendMessageFile(const std::string& filename)
{
    if (const int32_t rc = checkSenderSyntax(); rc != smtp_result::Ok)
        return rc;
    // The file is opened before anything goes out, and the same open file is sent: a
    // message that cannot be read never starts a transaction.
    if (!platform::IsNormalFile(filename)) {
        smtpError = fileFailureText(file_result::Missing);
        return smtp_result::AttachmentMissing;
    }
    platform::FileResult opened = file_result::Ok;
    platform::File file = platform::File::OpenRead(filename, opened);
    const long long length = file.isOpen() ? file.size() : -1;
    if (length < 0) {
        smtpError = fileFailureText(opened);
        return smtp_result::AttachmentFailed;
    }
    if (const int32_t rc = checkEnvelope(); rc != smtp_result::Ok)
        return rc;
    if (const int32_t rc = ensureConnected(); rc != smtp_result::Ok)
        return rc;
    raise(smtp_event::SendingEnvelope);
    // '<' as a character: "<" + std::string&& draws a false -Wrestrict from GCC 12 (bug 105651).
    if (const int32_t rc = sendEnvelope('<' + codec::TrimBlanks(message.FromEmail) + '>'); rc != smtp_result::Ok)
        return rc;
    if (const int32_t rc = openData(false); rc != smtp_result::Ok)
        return rc;

    return transferData(
        false, [&](smtp::DataWriter& out) { return streamMessage(file, length, out); },
        [this](int32_t rc) {
            abandonData(fileFailureText(rc));
            return smtp_result::AttachmentFailed;
        });
}

int32_t TolvanSMTP::Impl::SaveMessage(const std::string& filename)
{
    if (filename.empty())
        return file_result::EmptyFilename;
    platform::FileResult result = file_result::Ok;
    platform::File file = platform::File::CreateNew(filename, result);
    if (!file.isOpen())
        return result == file_result::Ok ? file_result::OtherFailure : result;

    smtp::FileSink sink(file);
    smtp::DataWriter out(sink, smtp::DataWriter::Dots::AsTheyAre);
    int32_t rc = file_result::Ok;
    if (message.UseMIME) {
        rc = writeMime(out);
    } else {
        for (size_t pass = 0; pass <= message.attachments.size() && rc == file_result::Ok; ++pass)
            rc = writePlainPass(out, pass);
    }
    out.flush();
    file.close();
    if (out.failure() != file_result::Ok)
        rc = out.failure();
    else if (rc == smtp::kChangedWhileSent)
        rc = file_result::OtherFailure;
    // A part of a message must not pass for the message: the file was ours alone to remove.
    if (rc != file_result::Ok)
        platform::RemoveFile(filename);
    return rc;
}

} // namespace tolmail

// Fuzz target: an SMTP server's replies as one byte stream, cut into writes where the
// input says, served over loopback to a TolvanSMTP that connects, sends a short message
// with a small attachment and disconnects. Besides crashes, leaks and hangs it stops when
// Send reports a delivery that the stream cannot have confirmed: no "250" line where the
// reply to the last end of data can stand, or no end of data sent at all.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "stream_peer.h"
#include "tolmail/TolvanSMTP.h"

using namespace tolmail;
using fuzzpeer::Violation;

namespace {

struct Setup {
    Setup() { std::ofstream(attachment, std::ios::binary) << "first line\r\n.\r\n..two dots\r\nlast line \xe9t\xe9 without end"; }
    fuzzpeer::Listener listener;
    fuzzpeer::ScratchDirectory root{"tolmail-fuzz-smtp"};
    std::string attachment = root / "notes.txt";
};

/// How many replies the client must have read up to the last end of data it sent: the
/// greeting, one per command line, one per end of data. 0 when no end of data was sent.
size_t RepliesToLastData(std::string_view sent)
{
    size_t replies = 1, confirmed = 0;
    for (size_t at = 0; at < sent.size();) {
        const size_t lf = sent.find("\r\n", at);
        if (lf == std::string_view::npos)
            break;
        const std::string_view line = sent.substr(at, lf - at);
        ++replies;
        at = lf + 2;
        if (line.size() == 4 && fuzzpeer::StartsNoCase(line, "DATA")) {
            // The data ends with a line "."; an empty body puts it right after the command.
            const size_t end = sent.find("\r\n.\r\n", lf);
            if (end == std::string_view::npos)
                break;
            confirmed = ++replies;
            at = end + 5;
        }
    }
    return confirmed;
}

/// True when a line of `served` at index `first` or later starts with "250".
bool Has250From(std::string_view served, size_t first)
{
    const std::vector<size_t> starts = fuzzpeer::LineStarts(served);
    for (size_t i = first; i < starts.size(); ++i) {
        if (served.substr(starts[i], 3) == "250")
            return true;
    }
    return false;
}

} // namespace

constexpr const char* kSecret = "Secret-Pa55";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Setup setup;
    fuzzpeer::Input input;
    if (!input.parse(data, size))
        return 0;
    fuzzpeer::Session peer(setup.listener, input);

    // Options: bit 0 plain mode (the attachment in a transaction of its own), bits 1-2 the
    // attachment's encoding (none, quoted-printable, base64, x-uuencode), bit 3 Cc and Bcc,
    // bit 4 a log-in (EHLO, then AUTH) with a password, or with bit 5 a token.
    const uint8_t options = input.options;
    int32_t sent = -1;
    size_t served = 0;
    {
        Ref<TolvanSMTP> smtp = TolvanSMTP::Create();
        smtp->Host("127.0.0.1");
        smtp->Port(static_cast<int16_t>(setup.listener.port()));
        smtp->TimeOut(5);
        smtp->UseMIME((options & 1) == 0);
        smtp->FromEmail("sender@example.org");
        smtp->FromName("Sender");
        smtp->Subject("fuzz");
        smtp->MailBody("Hello,\r\n.\r\n.. a line of dots\r\nbye\r\n");
        smtp->AddRecipients("To", "to@example.org", 1);
        if (options & 8) {
            smtp->AddRecipients("Cc", "cc@example.org", 2);
            smtp->AddRecipients("", "bcc@example.org", 3);
        }
        if (options & 16) {
            smtp->UserName("fuzz");
            if (options & 32)
                smtp->OAuth2Token(kSecret);
            else
                smtp->Password(kSecret);
        }
        if (const int32_t encoding = (options >> 1) & 3; encoding != 0)
            smtp->AddAttachment(setup.attachment, encoding);
        if (smtp->Connect() == 0) {
            sent = smtp->Send();
            served = peer.served();
            (void)smtp->Disconnect();
        }
    }
    peer.finish();

    // A secret leaves only encoded, and only to a server that offered a way to log in.
    if (peer.received().find(kSecret) != std::string::npos)
        Violation("the secret was sent as it stands");
    if (peer.received().find("AUTH ") != std::string::npos && peer.stream().find("AUTH") == std::string::npos)
        Violation("AUTH sent to a server that never offered it");
    if (sent == 0) {
        const size_t replies = RepliesToLastData(peer.received());
        if (replies == 0)
            Violation("Send returned 0 without sending the end of data");
        if (!Has250From(peer.stream().substr(0, served), replies - 1))
            Violation("Send returned 0 without a 250 reply to the end of data");
    }
    return 0;
}

// The POP3 log-in (RFC 1939, RFC 2449, RFC 2595, RFC 5034): CAPA and STLS, then APOP,
// AUTH PLAIN or USER and PASS, and the rule that keeps a password off an unencrypted
// network.
#include <algorithm>

#include "codec/base64.h"
#include "codec/wordfunc.h"
#include "pop3/apop_digest.h"
#include "pop3/pop3_impl.h"
#include "pop3/session.h"
#include "socket/dialogue.h"
#include "socket/secret_rule.h"

namespace tolmail {

namespace {

constexpr const char* kMasked = "********";
constexpr const char* kTlsFailed = "TLS failed: ";
constexpr const char* kNoApop = "APOP was asked for, but the server's greeting offers no timestamp; the password was not sent";
constexpr const char* kNotInClear = "The password was not sent: the connection is not encrypted and the server is on "
                                    "another machine (AllowPasswordWithoutTLS allows it)";

/// A reply line without its line end, for quoting in an error text.
std::string Quoted(const std::string& reply)
{
    std::string line = reply.substr(0, reply.find_first_of("\r\n"));
    return line;
}

/// CAPA's reply: a refusal is one line, a capability list ends with a line of a dot.
bool CapabilityReplyComplete(std::string_view text)
{
    return !pop3::StartsWith(text, "+OK") || (text.ends_with("\n.\r\n") && text.find('\n') + 1 < text.size());
}

/// True when a whole capability list names `capability`.
bool Lists(std::string_view listing, std::string_view capability)
{
    for (size_t start = listing.find('\n') + 1; start < listing.size();) {
        const size_t end = listing.find('\n', start);
        const std::string_view line = listing.substr(start, end - start);
        if (pop3::UpperAscii(codec::GetWord(line, 1)) == capability)
            return true;
        start = end == std::string_view::npos ? listing.size() : end + 1;
    }
    return false;
}

} // namespace

int32_t TolvanPOP3::Impl::TlsFailure(const std::string& why)
{
    // Some of the socket's reasons already say it.
    POP3Error = pop3::StartsWith(why, kTlsFailed) ? why : kTlsFailed + why;
    return pop3_result::TlsFailed;
}

int32_t TolvanPOP3::Impl::StartTls(socket::Dialogue& talk)
{
    // A server that does not list STLS would refuse it, and one that cannot say what it
    // offers is taken to offer nothing; asking first keeps the failure's reason plain.
    socket::Dialogue capabilities(*Socket, CapabilityReplyComplete);
    capabilities.command("CAPA");
    capabilities.readReply();
    const std::string& listing = capabilities.reply();
    const bool refused = codec::GetWord(listing, 1) == "-ERR";
    if (!refused && !(pop3::StartsWith(listing, "+OK") && CapabilityReplyComplete(listing))) {
        // Silence, a strange answer or a list cut short: what comes next could be the
        // rest of it, and the session cannot go on.
        Socket->CloseSocket();
        return TlsFailure(listing.empty() ? std::string("no reply to CAPA")
                                          : "the server's answer to CAPA is no whole capability list (" +
                                                Quoted(listing) + ")");
    }
    if (refused || !Lists(listing, "STLS")) {
        if (Security == security_mode::WhenOffered)
            return pop3_result::Ok;
        Socket->CloseSocket();
        return TlsFailure(refused ? "the server lists no capabilities, so no STLS (" + Quoted(listing) + ")"
                                  : std::string("the server does not offer STLS"));
    }
    talk.command("STLS");
    talk.readReply();
    const std::string& reply = talk.reply();
    if (pop3::StartsWith(reply, "+OK")) {
        // On failure the socket has closed the connection: nothing goes out in clear.
        if (Socket->StartTLS() == socket_result::Ok)
            return pop3_result::Ok;
        return TlsFailure(Socket->TLSError());
    }
    // Only a plain refusal lets the session go on unprotected; silence or a strange
    // answer leaves no telling where the server stands.
    if (Security == security_mode::WhenOffered && codec::GetWord(reply, 1) == "-ERR")
        return pop3_result::Ok;
    Socket->CloseSocket();
    return TlsFailure(reply.empty() ? std::string("no reply to STLS")
                                    : "the server did not start TLS (" + Quoted(reply) + ")");
}

int32_t TolvanPOP3::Impl::LogIn(socket::Dialogue& talk, const std::string& greeting)
{
    if (UseAPOP) {
        const std::string timestamp = pop3::ApopTimestamp(greeting);
        if (timestamp.empty()) {
            POP3Error = kNoApop;
            Socket->CloseSocket();
            return pop3_result::LoginUnavailable;
        }
        talk.command("APOP " + Login + " " + pop3::ApopDigest(timestamp, Password));
        return talk.readReply();
    }
    // A component at its defaults logs in as it always did; the check comes with the
    // newer settings that show the host cares how the password travels.
    const bool checked = Security != security_mode::None || UseAuthPlain;
    if (checked &&
        !socket::MaySendSecret(Socket->Encrypted(), socket::PeerAddress(*Socket), AllowPasswordWithoutTLS)) {
        POP3Error = kNotInClear;
        Socket->CloseSocket();
        return pop3_result::LoginUnavailable;
    }
    if (UseAuthPlain) {
        std::string credentials = std::string(1, '\0') + Login + '\0' + Password;
        std::string encoded = codec::Base64Encode(credentials);
        std::erase_if(encoded, [](char c) { return c == '\r' || c == '\n'; });
        std::string line;
        line.reserve(encoded.size() + 11);
        line.append("AUTH PLAIN ").append(encoded);
        talk.command(line, std::string("AUTH PLAIN ") + kMasked);
        socket::WipeText(credentials);
        socket::WipeText(encoded);
        socket::WipeText(line);
        return talk.readReply();
    }
    talk.command("USER " + Login);
    int32_t result = talk.readReply();
    if (result == socket_result::Ok) {
        std::string pass;
        pass.reserve(Password.size() + 5);
        pass.append("PASS ").append(Password);
        talk.command(pass, std::string("PASS ") + kMasked);
        socket::WipeText(pass);
        result = talk.readReply();
    }
    return result;
}

} // namespace tolmail

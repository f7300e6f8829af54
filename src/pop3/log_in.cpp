// The POP3 log-in (RFC 1939, RFC 2595, RFC 5034): STLS, then APOP, AUTH PLAIN or USER
// and PASS, and the rule that keeps a password off an unencrypted network.
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

} // namespace

int32_t TolvanPOP3::Impl::TlsFailure(const std::string& why)
{
    // Some of the socket's reasons already say it.
    POP3Error = pop3::StartsWith(why, kTlsFailed) ? why : kTlsFailed + why;
    return pop3_result::TlsFailed;
}

int32_t TolvanPOP3::Impl::StartTls(socket::Dialogue& talk)
{
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
        std::string line = "AUTH PLAIN " + encoded;
        talk.command(line, std::string("AUTH PLAIN ") + kMasked);
        socket::WipeText(credentials);
        socket::WipeText(encoded);
        socket::WipeText(line);
        return talk.readReply();
    }
    talk.command("USER " + Login);
    int32_t result = talk.readReply();
    if (result == socket_result::Ok) {
        std::string pass = "PASS " + Password;
        talk.command(pass, std::string("PASS ") + kMasked);
        socket::WipeText(pass);
        result = talk.readReply();
    }
    return result;
}

} // namespace tolmail

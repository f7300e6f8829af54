// The POP3 session (RFC 1939): greeting over a host list, TLS, the log-in's verdict and
// STAT, then NOOP, RSET and QUIT.
#include "codec/wordfunc.h"
#include "pop3/pop3_impl.h"
#include "pop3/session.h"
#include "socket/connect_failure.h"
#include "socket/host_list.h"
#include "tolmail/security_mode.h"

namespace tolmail {

namespace {

// The failure texts that POP3Error takes.
constexpr const char* kNoError = "No Error";
constexpr const char* kHostRequired = "POP3 Host Required";
constexpr const char* kLoginRequired = "Login name Required";
constexpr const char* kNotPop3Server = "Not a POP3 Server";
constexpr const char* kLoginFailure = "Login Failure / ";
constexpr const char* kLineBreakInCredentials = "line break in Login or Password";

/// The reply check of the greeting and the "PASS" reply: "+OK" accepted, anything
/// else refused with the text POP3Error then reads.
bool Accepted(const std::string& reply, std::string& error, const std::string& failure)
{
    if (pop3::StartsWith(reply, "+OK")) {
        error = kNoError;
        return true;
    }
    error = failure;
    return false;
}

/// A reply whose first word is "-ERR" is `refused`; an empty one NoReply; anything
/// else Ok.
int32_t Judge(const std::string& reply, int32_t refused)
{
    if (codec::GetWord(reply, 1) == "-ERR")
        return refused;
    return reply.empty() ? pop3_result::NoReply : pop3_result::Ok;
}

} // namespace

int32_t TolvanPOP3::Connect()
{
    const Ref<TolvanPOP3> keepAlive = shared_from_this();  // a handler may drop the host's last reference
    Impl& pop = *impl_;
    if (pop.Host.empty()) {
        pop.POP3Error = kHostRequired;
        return pop3_result::NoHost;
    }
    if (pop.Login.empty()) {
        pop.POP3Error = kLoginRequired;
        return pop3_result::NoLogin;
    }
    // A line break would end the command early and smuggle in one of the sender's own.
    if (pop3::HasLineBreak(pop.Login) || pop3::HasLineBreak(pop.Password)) {
        pop.POP3Error = std::string(kLoginFailure) + kLineBreakInCredentials;
        return pop3_result::LoginRefused;
    }
    if (pop.Socket->Connected())
        return pop3_result::AlreadyConnected;

    pop.Socket->Port(static_cast<uint16_t>(pop.Port));
    pop.Socket->TimeOut(pop.TimeOut);
    pop.Socket->ImplicitTLS(pop.Security == security_mode::Implicit);
    pop.Socket->TLSCAFile(pop.CAFile);
    pop.Socket->TLSSkipVerification(pop.SkipCertificateCheck);
    socket::Dialogue talk = pop3::StatusDialogue(*pop.Socket);
    int32_t result = pop.ConnectHostList(talk);
    if (result != socket_result::Ok)
        return result;
    if (!Accepted(talk.reply(), pop.POP3Error, kNotPop3Server))
        return pop3_result::NotPop3Server;
    const std::string greeting = talk.reply();  // APOP's timestamp is the one sent in the clear, before STLS
    if (pop.Security == security_mode::WhenOffered || pop.Security == security_mode::Required) {
        result = pop.StartTls(talk);
        if (result != pop3_result::Ok)
            return result;
    }

    pop.raise(pop3_event::Verification);
    result = pop.LogIn(talk, greeting);
    if (result == pop3_result::LoginUnavailable)
        return result;
    const std::string& reply = talk.reply();
    std::string failure = kLoginFailure + (reply.size() > 5 ? reply.substr(5) : std::string());
    if (Accepted(reply, pop.POP3Error, failure)) {
        pop.raise(pop3_event::Granted);
        pop.ReadStatistics();
        return result;
    }
    if (result == socket_result::Ok) {
        pop.raise(pop3_event::Denied);
        return pop3_result::LoginRefused;
    }
    pop.raise(pop3_event::Timeout);
    return result;
}

int32_t TolvanPOP3::Impl::ConnectHostList(socket::Dialogue& talk)
{
    socket::HostList names(Host);
    int32_t result = socket_result::Ok;
    for (std::string name; names.next(name);) {
        Socket->Host(name);
        result = Socket->Connect();
        // A server whose certificate fails is not one to pass over for the next name.
        if (result == socket_result::TlsFailed)
            return TlsFailure(Socket->TLSError());
        if (result == socket_result::Ok) {
            result = talk.readReply();
            if (talk.reply().empty())
                POP3Error = socket::NoGreetingText(*Socket);
            return result;
        }
    }
    POP3Error = socket::ConnectFailureText(*Socket);
    return result;
}

void TolvanPOP3::Impl::ReadStatistics()
{
    socket::Dialogue talk = pop3::StatusDialogue(*Socket);
    talk.command("STAT");
    talk.readReply();
    const std::string& reply = talk.reply();
    MessageCount = 0;
    MailboxSize = 0;
    // "+OK count size": without two blanks there are no figures to read.
    size_t first = reply.find(' ');
    if (first == std::string::npos)
        return;
    size_t second = reply.find(' ', first + 1);
    if (second == std::string::npos)
        return;
    MessageCount = pop3::LeadingNumber(std::string_view(reply).substr(first + 1, second - first));
    MailboxSize = pop3::LeadingNumber(std::string_view(reply).substr(second + 1));
}

int32_t TolvanPOP3::Disconnect()
{
    const Ref<TolvanPOP3> keepAlive = shared_from_this();
    Impl& pop = *impl_;
    pop.raise(pop3_event::Disconnecting);
    socket::Dialogue talk = pop3::StatusDialogue(*pop.Socket);
    if (pop.Socket->Connected()) {
        talk.command("QUIT");
        talk.readReply();
        pop.raise(pop3_event::CleanLogoff);
    } else {
        pop.raise(pop3_event::DirtyLogoff);
    }
    return Judge(talk.reply(), pop3_result::QuitRefused);
}

int32_t TolvanPOP3::Impl::SimpleCommand(const char* command)
{
    if (!Socket->Connected())
        return pop3_result::NotConnected;
    socket::Dialogue talk = pop3::StatusDialogue(*Socket);
    talk.command(command);
    talk.readReply();
    return Judge(talk.reply(), pop3_result::Refused);
}

int32_t TolvanPOP3::KeepAlive()
{
    const Ref<TolvanPOP3> keepAlive = shared_from_this();
    return impl_->SimpleCommand("NOOP");
}

int32_t TolvanPOP3::CancelDelete()
{
    const Ref<TolvanPOP3> keepAlive = shared_from_this();
    return impl_->SimpleCommand("RSET");
}

} // namespace tolmail

// TolvanSMTP's connection: the host list, greeting and EHLO or HELO, STARTTLS, reply
// checks, QUIT (RFC 5321 3.1, 4.1.1.1, 4.1.1.10, 4.2; RFC 3207).
#include <array>

#include "codec/base64.h"
#include "smtp/smtp_impl.h"
#include "socket/connect_failure.h"
#include "socket/dialogue.h"
#include "socket/host_list.h"
#include "socket/winsock_support.h"
#include "tolmail/security_mode.h"

namespace tolmail {

namespace {

using socket::FirstRead;

constexpr int kWsaHostDown = 10064;

/// A reply is whole when its last line is not a continuation line ("250-...": the
/// fourth character "-"), RFC 5321 4.2.1.
bool IsCompleteReply(std::string_view text)
{
    if (!text.ends_with("\r\n"))
        return false;
    const size_t prev = text.size() < 3 ? std::string_view::npos : text.rfind("\r\n", text.size() - 3);
    const size_t lastStart = prev == std::string_view::npos ? 0 : prev + 2;
    const size_t lastLength = text.size() - 2 - lastStart;
    return lastLength < 4 || text[lastStart + 3] != '-';
}

struct ReplyStep {
    const char* code;
    const char* textOnMismatch;  // null: the reply itself
};

/// Steps 1 to 6 of the reply check.
constexpr std::array<ReplyStep, 6> kReplySteps = {{
    {"220", "Not a SMTP Server"},
    {"250", nullptr},
    {"354", nullptr},
    {"221", nullptr},
    {"334", nullptr},
    {"235", nullptr},
}};

/// The replies of a server that does not know EHLO (RFC 5321 4.1.4): it still takes HELO.
bool UnknownCommand(const std::string& reply)
{
    return reply.starts_with("500") || reply.starts_with("502");
}

std::string TlsFailureText(std::string_view why)
{
    while (!why.empty() && (why.back() == '\r' || why.back() == '\n'))
        why.remove_suffix(1);
    // The socket's texts about the handshake say so themselves.
    constexpr std::string_view kHead = "TLS failed: ";
    return why.starts_with(kHead) ? std::string(why) : std::string(kHead) + std::string(why);
}

} // namespace

std::string TolvanSMTP::Impl::hostDownText()
{
    return socket::WinsockErrorText(kWsaHostDown);
}

TolvanSMTP::Impl::Impl() : socket(TolvanSocket::Create()), dialogue(*socket, IsCompleteReply)
{
    codec::InitBase64Table();
}

TolvanSMTP::Impl::~Impl()
{
    socket::WipeText(password);
    socket::WipeText(oauth2Token);
}

void TolvanSMTP::Impl::raise(const TaskEvent& event, std::string_view named, int32_t param1, int32_t param2)
{
    if (events.empty())
        return;  // an attachment's every chunk raises one: no text made for nobody
    const std::string text = event.Text(named);
    events.raise([&](TolvanSMTPEvents& sink) { sink.OnSMTPEvent(text, event.task, param1, param2); });
}

bool TolvanSMTP::Impl::CheckReply(int step)
{
    const std::string& reply = dialogue.reply();
    smtpError = "No Error";
    if (step < 1 || step > static_cast<int>(kReplySteps.size()))
        return false;
    const ReplyStep& rule = kReplySteps[static_cast<size_t>(step - 1)];
    if (reply.size() >= 3 && reply.compare(0, 3, rule.code) == 0)
        return true;
    if (rule.textOnMismatch != nullptr)
        smtpError = rule.textOnMismatch;
    else if (!reply.empty())
        smtpError = reply;
    else  // nothing to quote: say why nothing came
        smtpError = silenceText();
    return false;
}

std::string TolvanSMTP::Impl::silenceText() const
{
    return socket->Connected() ? "No reply from the server within " + std::to_string(timeOut) + " s"
                               : std::string("The server closed the connection without a reply");
}

int32_t TolvanSMTP::Impl::Connect()
{
    if (socket->Connected())
        return smtp_result::AlreadyConnected;
    if (hostList.empty()) {
        smtpError = "SMTPHost properties cannot be blank";
        return smtp_result::NoHost;
    }
    // The result of the last candidate's failure: the socket's code when its TCP
    // connection failed, HostDown when it did not greet. A list of one host thus
    // fails as that host did, and SMTPError says what happened to it.
    int32_t lastFailure = smtp_result::HostDown;
    std::string lastReason = hostDownText();
    socket::HostList candidates(hostList);
    for (std::string candidate; candidates.next(candidate);) {
        socket->Host(candidate);
        socket->Port(static_cast<uint16_t>(port));  // the socket takes the low 16 bits
        socket->TimeOut(timeOut);
        socket->ImplicitTLS(security == security_mode::Implicit);
        socket->TLSCAFile(caFile);
        socket->TLSSkipVerification(skipCertificateCheck);
        raise(smtp_event::Connecting, socket->Host());
        // A host that refuses the connection is passed over like one that does not
        // greet: the list exists for the hosts that are down.
        if (const int32_t rc = socket->Connect(); rc == socket_result::TlsFailed) {
            // The next host may hold a valid certificate; none is tried without TLS.
            lastFailure = smtp_result::TlsFailed;
            lastReason = TlsFailureText(socket->TLSError());
            continue;
        } else if (rc != socket_result::Ok) {
            lastFailure = rc;
            lastReason = socket::ConnectFailureText(*socket);
            continue;
        }
        lastFailure = smtp_result::HostDown;
        if (!socket->Connected()) {
            lastReason = socket::NoGreetingText(*socket);
            continue;
        }
        raise(smtp_event::Connected, socket->Host());
        dialogue.readReply(FirstRead::Line);
        if (CheckReply(1))
            break;
        const std::string& greeting = dialogue.reply();
        lastReason = greeting.empty() ? socket::NoGreetingText(*socket) : smtpError;
        socket->CloseSocket();
        raise(smtp_event::InvalidResponse, greeting);
    }
    if (!socket->Connected()) {
        smtpError = lastReason;
        return lastFailure;
    }

    smtp::Extensions offered;
    if (const int32_t rc = introduce(offered); rc != smtp_result::Ok)
        return rc;
    return userName.empty() ? smtp_result::Ok : authenticate(offered);
}

int32_t TolvanSMTP::Impl::introduce(smtp::Extensions& offered)
{
    const bool byCommand = security == security_mode::WhenOffered || security == security_mode::Required;
    // Without an account to log in to or TLS to ask for, no extension is wanted: the
    // plain HELO session.
    if (const int32_t rc = hello(byCommand || !userName.empty(), offered); rc != smtp_result::Ok)
        return rc;
    if (!byCommand || socket->Encrypted())
        return smtp_result::Ok;
    if (const int32_t rc = startTls(offered); rc != smtp_result::Ok || !socket->Encrypted())
        return rc;
    // What the server said in clear may have been changed on the way: only the keywords
    // announced under TLS count (RFC 3207 4.2).
    offered = {};
    return hello(true, offered);
}

int32_t TolvanSMTP::Impl::hello(bool extended, smtp::Extensions& offered)
{
    std::string localName = socket->LocalHostName();
    if (localName.empty())
        localName = "Unknown Host";
    if (extended) {
        dialogue.command("EHLO " + localName);
        dialogue.readReply(FirstRead::Block);
        if (CheckReply(2)) {
            offered = smtp::ParseEhloReply(dialogue.reply());
            return smtp_result::Ok;
        }
        // A server that does not know EHLO knows no STARTTLS either.
        if (UnknownCommand(dialogue.reply()) && security == security_mode::Required && !socket->Encrypted())
            return tlsFailed("the server does not know EHLO, so it offers no STARTTLS");
    }
    if (!extended || UnknownCommand(dialogue.reply())) {
        dialogue.command("HELO " + localName);
        dialogue.readReply(FirstRead::Block);
        if (CheckReply(2))
            return smtp_result::Ok;
    }
    socket->CloseSocket();
    raise(smtp_event::InvalidResponse, dialogue.reply());
    return smtp_result::HeloRefused;
}

int32_t TolvanSMTP::Impl::startTls(const smtp::Extensions& offered)
{
    if (!offered.startTls) {
        if (security == security_mode::Required)
            return tlsFailed("the server does not offer STARTTLS");
        return smtp_result::Ok;
    }
    dialogue.command("STARTTLS");
    dialogue.readReply(FirstRead::Line);
    const std::string& reply = dialogue.reply();
    if (!reply.starts_with("220")) {
        // A refusal leaves the session as it was, and WhenOffered goes on in clear as with
        // a server that offers nothing; no reply at all leaves no session to go on with.
        if (security == security_mode::WhenOffered && !reply.empty() && socket->Connected())
            return smtp_result::Ok;
        return tlsFailed(reply.empty() ? silenceText() : reply);
    }
    if (socket->StartTLS() != socket_result::Ok)
        return tlsFailed(socket->TLSError());
    return smtp_result::Ok;
}

int32_t TolvanSMTP::Impl::tlsFailed(const std::string& why)
{
    socket->CloseSocket();
    smtpError = TlsFailureText(why);
    return smtp_result::TlsFailed;
}

int32_t TolvanSMTP::Impl::Disconnect()
{
    raise(smtp_event::LoggingOff);
    if (!socket->Connected()) {
        raise(smtp_event::NotConnected);
        return smtp_result::NotConnected;
    }
    dialogue.command("QUIT");
    dialogue.readReply(FirstRead::Line);
    socket->CloseSocket();
    if (!CheckReply(4)) {
        raise(smtp_event::UnableToLogOff);
        return smtp_result::ServerRefused;
    }
    raise(smtp_event::LoggedOff);
    return smtp_result::Ok;
}

} // namespace tolmail

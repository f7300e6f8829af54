#include "outcome.h"

#include <cstdio>
#include <exception>
#include <span>

#include "options.h"
#include "terminal_text.h"
#include "tolmail/error.h"
#include "tolmail/file_codes.h"
#include "tolmail/pop3_codes.h"
#include "tolmail/smtp_codes.h"
#include "tolmail/socket_codes.h"

namespace tolmail::cli {

namespace {

struct Row {
    Source source;
    int32_t code;
    Verdict verdict;
};

// Codes that share a value within one source appear once, under the name that the
// member this source stands for uses.
constexpr Row kTable[] = {
    {Source::SmtpSend, smtp_result::Ok, {EX_OK, "done"}},
    {Source::SmtpSend, smtp_result::AlreadyConnected, {EX_SOFTWARE, "already connected"}},
    {Source::SmtpSend, socket_result::OpenFailed, {EX_NOHOST, "no server could be reached"}},
    {Source::SmtpSend, smtp_result::RecipientRefused, {EX_NOUSER, "the server refused a recipient"}},
    {Source::SmtpSend, smtp_result::HostDown, {EX_TEMPFAIL, "no server greeted in time"}},
    {Source::SmtpSend, smtp_result::NoSender, {EX_DATAERR, "the sender's address is not usable"}},
    {Source::SmtpSend, smtp_result::AttachmentFailed, {EX_NOINPUT, "an attachment could not be read"}},
    {Source::SmtpSend, smtp_result::AttachmentMissing, {EX_NOINPUT, "an attachment is missing"}},
    {Source::SmtpSend, smtp_result::NoRecipient, {EX_USAGE, "there is no recipient"}},
    {Source::SmtpSend, smtp_result::HeloRefused, {EX_UNAVAILABLE, "the server refused the greeting"}},
    {Source::SmtpSend, smtp_result::ServerRefused, {EX_UNAVAILABLE, "the server refused the message"}},
    {Source::SmtpSend, smtp_result::DataNotSent, {EX_TEMPFAIL, "the transfer broke off"}},
    {Source::SmtpSend, smtp_result::AuthRefused, {EX_NOPERM, "the server refused the log-in"}},
    {Source::SmtpSend, smtp_result::AuthUnavailable, {EX_UNAVAILABLE, "no way to log in safely"}},
    {Source::SmtpSend, smtp_result::TlsFailed, {EX_UNAVAILABLE, "no protected connection"}},
    {Source::SmtpSend, socket_result::LayerFailed, {EX_OSERR, "the socket layer did not start"}},

    {Source::SmtpAdd, smtp_result::Ok, {EX_OK, "done"}},
    {Source::SmtpAdd, smtp_result::ArgumentRefused, {EX_DATAERR, "refused"}},

    {Source::Pop3Connect, pop3_result::Ok, {EX_OK, "done"}},
    {Source::Pop3Connect, socket_result::NothingArrived, {EX_TEMPFAIL, "no reply from the server in time"}},
    {Source::Pop3Connect, pop3_result::AlreadyConnected, {EX_SOFTWARE, "already connected"}},
    {Source::Pop3Connect, socket_result::OpenFailed, {EX_NOHOST, "no server could be reached"}},
    {Source::Pop3Connect, pop3_result::LoginRefused, {EX_NOPERM, "log-in refused"}},
    {Source::Pop3Connect, socket_result::NotConnected, {EX_TEMPFAIL, "the connection was lost"}},
    {Source::Pop3Connect, pop3_result::NotPop3Server, {EX_PROTOCOL, "not a POP3 server"}},
    {Source::Pop3Connect, pop3_result::TlsFailed, {EX_UNAVAILABLE, "no protected session"}},
    {Source::Pop3Connect, pop3_result::LoginUnavailable, {EX_UNAVAILABLE, "no way to log in safely"}},
    {Source::Pop3Connect, socket_result::LayerFailed, {EX_OSERR, "the socket layer did not start"}},

    {Source::Pop3Session, pop3_result::Ok, {EX_OK, "done"}},
    {Source::Pop3Session, pop3_result::NoReply, {EX_TEMPFAIL, "no reply from the server in time"}},
    {Source::Pop3Session, pop3_result::ConnectionLost, {EX_TEMPFAIL, "the connection was lost"}},
    {Source::Pop3Session, pop3_result::TempFileFailed, {EX_CANTCREAT, "a temporary file could not be written"}},
    {Source::Pop3Session, pop3_result::TextFileFailed, {EX_CANTCREAT, "the message text could not be cached"}},
    {Source::Pop3Session, pop3_result::Refused, {EX_UNAVAILABLE, "refused by the server"}},
    {Source::Pop3Session, pop3_result::QuitRefused, {EX_UNAVAILABLE, "refused by the server"}},
    {Source::Pop3Session, pop3_result::ProtocolError, {EX_PROTOCOL, "the server broke the protocol"}},

    {Source::FileRead, file_result::Ok, {EX_OK, "done"}},
    {Source::FileRead, file_result::PermissionDenied, {EX_NOINPUT, "permission denied"}},
    {Source::FileRead, file_result::NotReady, {EX_IOERR, "the device failed"}},
    {Source::FileRead, file_result::PathNotFound, {EX_NOINPUT, "no such directory"}},
    {Source::FileRead, file_result::Missing, {EX_NOINPUT, "no such file"}},
    {Source::FileRead, file_result::OtherFailure, {EX_IOERR, "read error"}},

    {Source::FileWrite, file_result::Ok, {EX_OK, "done"}},
    {Source::FileWrite, file_result::Exists, {EX_CANTCREAT, "every name of that form is taken"}},
    {Source::FileWrite, file_result::DiskFull, {EX_IOERR, "disk full"}},
    {Source::FileWrite, file_result::PermissionDenied, {EX_CANTCREAT, "permission denied"}},
    {Source::FileWrite, file_result::NotReady, {EX_IOERR, "the device failed"}},
    {Source::FileWrite, file_result::SavePermissionDenied, {EX_CANTCREAT, "permission denied"}},
    {Source::FileWrite, file_result::PathNotFound, {EX_CANTCREAT, "no such directory"}},
    {Source::FileWrite, file_result::Missing, {EX_IOERR, "its temporary file is missing"}},
    // Save's code for a body that does not decode as well as for other failures.
    {Source::FileWrite, file_result::OtherFailure, {EX_DATAERR, "the content does not decode"}},
};

const char* ComponentOf(Source source)
{
    switch (source) {
    case Source::SmtpSend:
    case Source::SmtpAdd:
        return "TolvanSMTP";
    case Source::Pop3Connect:
    case Source::Pop3Session:
        return "TolvanPOP3";
    case Source::FileRead:
    case Source::FileWrite:
        break;
    }
    return "file";
}

std::string& CommandName()
{
    static std::string name;
    return name;
}

void PrintLine(const std::string& text)
{
    const std::string& command = CommandName();
    std::fprintf(stderr, "tolmail%s%s: %s\n", command.empty() ? "" : " ", command.c_str(), text.c_str());
}

} // namespace

Verdict Judge(Source source, int32_t code)
{
    for (const Row& row : kTable)
        if (row.source == source && row.code == code)
            return row.verdict;
    return {EX_SOFTWARE, "unexpected result"};
}

void SetCommandName(const std::string& name) { CommandName() = name; }

int Report(const std::string& what, Source source, int32_t code, const std::string& words)
{
    const Verdict verdict = Judge(source, code);
    std::string why = verdict.reason;
    // Servers end their words with the line break of the reply; it is no part of them.
    const size_t end = words.find_last_not_of(" \t\r\n");
    if (end != std::string::npos)
        why += ": " + Printable(words.substr(0, end + 1));
    PrintLine(what + ": " + why + " (" + ComponentOf(source) + " code " + std::to_string(code) + ")");
    return verdict.status;
}

int Report(const std::string& what, const std::string& why, int status)
{
    PrintLine(what + ": " + why);
    return status;
}

int ReportUsage(const std::string& fault)
{
    const std::string& command = CommandName();
    PrintLine(Printable(fault) + " (see 'tolmail " + (command.empty() ? "" : command + " ") + "--help')");
    return EX_USAGE;
}

int Guarded(const std::function<int()>& command)
{
    try {
        return command();
    } catch (const UsageError& e) {
        return ReportUsage(e.what());
    } catch (const ConfigError& e) {
        PrintLine(Printable(e.what()));
        return e.status();
    } catch (const tolmail::Error& e) {
        return Report("stopped", Printable(e.what()) + " (error " + std::to_string(e.code()) + ")", EX_SOFTWARE);
    } catch (const std::exception& e) {
        return Report("stopped", Printable(e.what()), EX_SOFTWARE);
    } catch (...) {
        return Report("stopped", "an unknown failure", EX_SOFTWARE);
    }
}

} // namespace tolmail::cli

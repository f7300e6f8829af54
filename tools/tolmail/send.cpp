// tolmail send: composes a message with the TolvanSMTP component and delivers it to an
// SMTP server (RFC 5321), showing attachment progress on standard error.
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "account.h"
#include "commands.h"
#include "envelope.h"
#include "options.h"
#include "outcome.h"
#include "password.h"
#include "private_cache.h"
#include "progress.h"
#include "system.h"
#include "terminal_text.h"
#include "tls_mode.h"
#include "verbose.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/security_mode.h"
#include "tolmail/smtp_codes.h"

namespace tolmail::cli {

namespace {

const char* const kSendUsage =
    "usage: tolmail send --from ADDRESS --to RECIPIENT [options]\n"
    "       tolmail send [--from ADDRESS] [--to RECIPIENT] --message FILE|- [-t]\n"
    "\n"
    "Composes a message, or takes one already composed, and delivers it to an SMTP\n"
    "server. A failure prints one line with the server's own words; the exit status\n"
    "says what kind of failure it was.\n"
    "Options take their value as the next argument or after '=' (--port=2525).\n"
    "\n"
    "server:\n"
    "  -s, --server HOST[;HOST...]  servers tried in order (default 127.0.0.1)\n"
    "  -p, --port N              server port, 1 to 65534 (default 25; 465 with\n"
    "                            --tls implicit)\n"
    "  --timeout S               seconds to wait for each reply, 0 to 1500 (default 15)\n"
    "  --tls MODE                auto (default): STARTTLS when the server offers it;\n"
    "                            starttls: STARTTLS or nothing is sent; implicit: TLS\n"
    "                            from the first byte (port 465); off: plain TCP. The\n"
    "                            certificate must be valid for the server name given\n"
    "  --ca-file FILE            also trust the authorities in FILE (PEM)\n"
    "  --insecure                take any certificate: encrypted, but whoever is on the\n"
    "                            way can read and change the session (test servers only)\n"
    "\n"
    "log-in (for servers that require it):\n"
    "  -u, --user LOGIN          log in as LOGIN (EHLO, then AUTH XOAUTH2, PLAIN or LOGIN,\n"
    "                            whichever the server offers). The password is never\n"
    "                            sent in clear to another machine.\n"
    "  --password-file FILE      the password is the first line of FILE\n"
    "  --password-command CMD    the password is the first line CMD prints. Without\n"
    "                            either: TOLMAIL_PASSWORD, ~/.netrc, then a prompt\n"
    "  --oauth2-token-file FILE  log in with the bearer token on the first line of FILE\n"
    "                            (AUTH XOAUTH2) instead of a password\n"
    "                            These four are taken from the command line only: an\n"
    "                            account's user and password are its mailbox's.\n"
    "\n"
    "accounts:\n"
    "  --config FILE             the accounts file (default\n"
    "                            $XDG_CONFIG_HOME/tolmail/config, else\n"
    "                            ~/.config/tolmail/config); owner-only, or refused\n"
    "  --account NAME            take the values of account NAME (default: the file's\n"
    "                            default account); options given here override them\n"
    "\n"
    "envelope and header:\n"
    "  -f, --from ADDRESS        sender's address (required, unless -t finds it)\n"
    "  --from-name NAME          sender's display name\n"
    "  --to RECIPIENT            a To recipient (repeatable)\n"
    "  --cc RECIPIENT            a Cc recipient (repeatable)\n"
    "  --bcc RECIPIENT           a Bcc recipient (repeatable)\n"
    "                            RECIPIENT is 'Name <address>' or a bare address. Names\n"
    "                            keep every character but control characters (at most\n"
    "                            64); a bare address gets its local part as name\n"
    "  -j, --subject TEXT        subject line\n"
    "                            Names, subject and --header values are UTF-8; beyond\n"
    "                            ASCII they are sent as encoded words (RFC 2047), the\n"
    "                            attachments' names as RFC 2231 file names\n"
    "  --reply-to ADDRESS        Reply-To header\n"
    "  --return-receipt          ask for a return receipt (Return-Receipt-To header)\n"
    "  --priority N              0 none, 1 highest .. 3 normal .. 5 lowest (default 3)\n"
    "  --header \"Name: value\"    an extra header line (repeatable)\n"
    "\n"
    "a message composed elsewhere:\n"
    "  --message FILE|-          send FILE ('-': standard input) as it stands, line ends\n"
    "                            made CR LF; the envelope is --from and the recipients.\n"
    "                            The composing options (subject, body, attachments,\n"
    "                            headers ...) cannot be given with it\n"
    "  -t, --read-recipients     recipients from the message's To, Cc and Bcc fields\n"
    "                            (besides those given here), the sender from its From\n"
    "                            field unless --from is given; the Bcc fields are not\n"
    "                            sent. Without --message the message is read from\n"
    "                            standard input\n"
    "\n"
    "body:\n"
    "  -b, --body FILE           message text from FILE ('-' for standard input); without\n"
    "                            it the text is read from standard input unless that is\n"
    "                            a terminal\n"
    "  --content-type TYPE       type of a message without attachments (default text/plain;\n"
    "                            an empty TYPE sends no MIME header lines)\n"
    "  --charset N|NAME          the charset the text is declared in: UTF-8 (default),\n"
    "                            1 US-ASCII, 0 or 2 ISO-8859-1, or a name such as\n"
    "                            windows-1252; the text's bytes are sent unchanged\n"
    "\n"
    "attachments:\n"
    "  -a, --attach PATH         attach a file (repeatable)\n"
    "  --attach-encoding ENC     encoding of the attachments that follow: base64\n"
    "                            (default), quoted-printable, x-uuencode or binary\n"
    "  --plain                   non-MIME message: the text first, then each attachment\n"
    "                            uuencoded in a transaction of its own\n"
    "\n"
    "output:\n"
    "  --dry-run                 connect to nothing: print the message that would be\n"
    "                            sent on standard output, its envelope on standard error\n"
    "  -q, --quiet               no progress display\n"
    "  -v, --verbose             the dialogue with the server on standard error\n"
    "                            (passwords masked)\n"
    "  -h, --help                this text\n"
    "  -V, --version             the version of tolmail\n"
    "\n"
    "exit status:\n"
    "  0   the message was accepted\n"
    "  64  usage error\n"
    "  65  a sender, recipient or header the component refuses, or a message\n"
    "      that names no recipient (-t)\n"
    "  66  the body or message file or an attachment is missing or unreadable\n"
    "  67  the server refused a recipient\n"
    "  68  no server could be reached\n"
    "  69  the server refused the service (greeting, message), offers no way\n"
    "      to log in safely, or TLS failed (certificate refused, handshake broken,\n"
    "      STARTTLS refused or not offered with --tls starttls)\n"
    "  70  internal error\n"
    "  71  the socket layer did not start\n"
    "  74  the body file could not be read whole\n"
    "  75  no reply in time, or the transfer broke off: try again later\n"
    "  77  the server refused the log-in\n"
    "  78  a fault in the accounts file or ~/.netrc, no password configured, or the\n"
    "      password command failed\n";

struct Recipient {
    std::string name, address;
    int32_t type;
};

struct Options {
    std::string server = "127.0.0.1";
    std::optional<long> port, timeout, priority;
    std::string charset;  // a name; empty: UTF-8
    std::string from, fromName, subject, body, contentType = "text/plain", replyTo;
    bool bodyGiven = false, contentTypeGiven = false, returnReceipt = false, plain = false, quiet = false;
    bool verbose = false;
    bool help = false, version = false;
    std::string message;  // --message: a file composed elsewhere, "-" standard input
    bool messageGiven = false, readRecipients = false, dryRun = false;
    std::string user, passwordFile, passwordCommand, tokenFile;
    int32_t security = security_mode::WhenOffered;
    std::string caFile;
    bool insecure = false;
    std::vector<Recipient> recipients;
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::pair<std::string, int32_t>> attachments;
};

struct EncodingName {
    const char* name;
    int32_t code;
};

constexpr EncodingName kEncodings[] = {
    {"quoted-printable", 1},
    {"base64", 2},
    {"x-uuencode", 3},
    {"binary", 0},
};

std::string trim(const std::string& s)
{
    const size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos)
        return {};
    return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

/// The first 64 characters of `text` (a UTF-8 sequence is never cut).
std::string firstCharacters(const std::string& text)
{
    size_t count = 0, end = 0;
    for (; end < text.size(); ++end) {
        const bool starts = (static_cast<unsigned char>(text[end]) & 0xC0) != 0x80;
        if (starts && ++count > 64)
            break;
    }
    return text.substr(0, end);
}

/// A display name the component accepts: control characters become blanks, at most 64
/// characters; every letter of every script is kept.
std::string acceptableName(const std::string& wanted, const std::string& address)
{
    const auto printable = [](std::string text) {
        for (char& c : text)
            c = (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
        return trim(firstCharacters(trim(text)));
    };
    if (std::string name = printable(wanted); !name.empty())
        return name;
    const std::string name = printable(address.substr(0, address.find('@')));
    return name.empty() ? "Recipient" : name;
}

/// "Name <address>" or a bare address.
Recipient parseRecipient(const std::string& text, int32_t type)
{
    const size_t open = text.rfind('<');
    const size_t close = text.rfind('>');
    if (open != std::string::npos && close != std::string::npos && close > open) {
        const std::string address = trim(text.substr(open + 1, close - open - 1));
        std::string name = trim(text.substr(0, open));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        return {acceptableName(name, address), address, type};
    }
    const std::string address = trim(text);
    return {acceptableName("", address), address, type};
}

std::string CharsetName(const std::string& text);
bool InsecureValue(const std::string& text);

constexpr KnownOption kSendOptions[] = {
    {"server", 's', KnownOption::Text},
    {"port", 'p', KnownOption::Number, kLowestPort, kHighestPort},
    {"timeout", 0, KnownOption::Number, 0, kLongestTimeOut},
    {"tls", 0, KnownOption::Text, 0, 0, false, [](const std::string& value) { SecurityMode(value); }},
    {"ca-file", 0, KnownOption::Text},
    {"insecure", 0, KnownOption::Flag, 0, 0, false, [](const std::string& value) { InsecureValue(value); }},
    // An account's user and password are its mailbox's: the SMTP log-in is asked for here.
    {"user", 'u', KnownOption::Text, 0, 0, true},
    {"password-file", 0, KnownOption::Text, 0, 0, true},
    {"password-command", 0, KnownOption::Text, 0, 0, true},
    {"oauth2-token-file", 0, KnownOption::Text, 0, 0, true},
    {"from", 'f', KnownOption::Text},
    {"from-name", 0, KnownOption::Text},
    {"config", 0, KnownOption::Text},
    {"account", 0, KnownOption::Text},
    {"to", 0, KnownOption::Text},
    {"cc", 0, KnownOption::Text},
    {"bcc", 0, KnownOption::Text},
    {"subject", 'j', KnownOption::Text},
    {"reply-to", 0, KnownOption::Text},
    {"return-receipt", 0, KnownOption::Flag},
    {"priority", 0, KnownOption::Number, 0, 5},
    {"header", 0, KnownOption::Text},
    {"body", 'b', KnownOption::Text},
    {"content-type", 0, KnownOption::Text},
    {"charset", 0, KnownOption::Text, 0, 0, false, [](const std::string& value) { CharsetName(value); }},
    {"attach", 'a', KnownOption::Text},
    {"attach-encoding", 0, KnownOption::Text},
    {"plain", 0, KnownOption::Flag},
    {"message", 0, KnownOption::Text},
    {"read-recipients", 't', KnownOption::Flag},
    {"dry-run", 0, KnownOption::Flag},
    {"quiet", 'q', KnownOption::Flag},
    {"verbose", 'v', KnownOption::Flag},
    {"help", 'h', KnownOption::Flag},
    {"version", 'V', KnownOption::Flag},
};

/// The options that compose a message: a message composed elsewhere goes as it stands,
/// so given with --message they would be ignored without a word.
constexpr std::string_view kComposingOptions[] = {
    "from-name", "subject", "reply-to", "return-receipt", "priority", "header", "body",
    "content-type", "charset", "attach", "attach-encoding", "plain",
};

/// Refuses a composing option beside --message or -t on the command line. Values an
/// account gives serve other messages as well and are passed over.
void RefuseComposingOptions(const std::vector<GivenOption>& given)
{
    const GivenOption* composed = nullptr;
    const GivenOption* ready = nullptr;
    for (const GivenOption& option : given) {
        const std::string_view name = option.known->name;
        if (name == "message" || name == "read-recipients")
            ready = ready ? ready : &option;
        else if (std::find(std::begin(kComposingOptions), std::end(kComposingOptions), name) !=
                 std::end(kComposingOptions))
            composed = composed ? composed : &option;
    }
    if (ready && composed)
        throw UsageError(std::string("--") + composed->known->name + " cannot be used with --" + ready->known->name +
                         ": that message is sent as it stands");
}

/// The charset a --charset names; a number as the component's CharSet reads it (which
/// would store any value above 2 as 1 without a word).
std::string CharsetName(const std::string& text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return text;
    if (text.size() > 1 || text[0] > '2')
        throw UsageError("--charset: " + text + " is out of range 0..2 (or give a name such as UTF-8)");
    return text[0] == '1' ? "US-ASCII" : "ISO-8859-1";
}

/// --insecure: given on the command line it has no value; an account writes one, and
/// "insecure = no" must not turn the check off.
bool InsecureValue(const std::string& text)
{
    if (text.empty() || text == "yes" || text == "true" || text == "1")
        return true;
    if (text == "no" || text == "false" || text == "0")
        return false;
    throw UsageError("--insecure: '" + text + "' is none of yes, no");
}

/// Fills `o` from the arguments; throws UsageError.
void parse(int argc, char** argv, Options& o)
{
    int32_t encoding = 2;
    std::vector<GivenOption> commandLine = ParseOptions(argc, argv, kSendOptions);
    RefuseComposingOptions(commandLine);
    for (const GivenOption& given : WithAccount(std::move(commandLine), kSendOptions)) {
        const std::string name = given.known->name;
        const std::string& value = given.text;
        if (name == "help")
            o.help = true;
        else if (name == "version")
            o.version = true;
        else if (name == "return-receipt")
            o.returnReceipt = true;
        else if (name == "plain")
            o.plain = true;
        else if (name == "message")
            o.message = value, o.messageGiven = true;
        else if (name == "read-recipients")
            o.readRecipients = true;
        else if (name == "dry-run")
            o.dryRun = true;
        else if (name == "quiet")
            o.quiet = true;
        else if (name == "verbose")
            o.verbose = true;
        else if (name == "server")
            o.server = value;
        else if (name == "tls")
            o.security = SecurityMode(value);
        else if (name == "ca-file")
            o.caFile = value;
        else if (name == "insecure")
            o.insecure = InsecureValue(value);
        else if (name == "user")
            o.user = value;
        else if (name == "password-file")
            o.passwordFile = value;
        else if (name == "password-command")
            o.passwordCommand = value;
        else if (name == "oauth2-token-file")
            o.tokenFile = value;
        else if (name == "port")
            o.port = given.number;
        else if (name == "timeout")
            o.timeout = given.number;
        else if (name == "priority")
            o.priority = given.number;
        else if (name == "charset")
            o.charset = value;
        else if (name == "from")
            o.from = value;
        else if (name == "from-name")
            o.fromName = value;
        else if (name == "to")
            o.recipients.push_back(parseRecipient(value, 1));
        else if (name == "cc")
            o.recipients.push_back(parseRecipient(value, 2));
        else if (name == "bcc")
            o.recipients.push_back(parseRecipient(value, 3));
        else if (name == "subject")
            o.subject = value;
        else if (name == "body")
            o.body = value, o.bodyGiven = true;
        else if (name == "content-type")
            o.contentType = value, o.contentTypeGiven = true;
        else if (name == "reply-to")
            o.replyTo = value;
        else if (name == "header") {
            const size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0)
                throw UsageError("--header needs \"Name: value\": " + value);
            o.headers.emplace_back(trim(value.substr(0, colon)), trim(value.substr(colon + 1)));
        } else if (name == "attach") {
            o.attachments.emplace_back(value, encoding);
        } else if (name == "attach-encoding") {
            const EncodingName* found = nullptr;
            for (const auto& e : kEncodings) {
                if (value == e.name)
                    found = &e;
            }
            if (found == nullptr)
                throw UsageError("--attach-encoding: unknown encoding '" + value +
                                 "' (base64, quoted-printable, x-uuencode or binary)");
            encoding = found->code;
        }
    }
    if (o.help || o.version)
        return;
    if (o.server.empty())
        throw UsageError("--server: no server named");
    if (o.readRecipients && !o.messageGiven) {
        // As sendmail -t: the message comes on standard input. One '-' by count: GCC 12's
        // -O3 takes assigning the literal for an overlapping copy (bug 105651).
        o.message.assign(1, '-');
        o.messageGiven = true;
    }
    if (o.message.empty() && o.messageGiven)
        throw UsageError("--message: no file named ('-' reads standard input)");
    // With -t the message itself may name them.
    if (!o.readRecipients && (o.from.empty() || o.recipients.empty()))
        throw UsageError("--from and at least one of --to, --cc, --bcc are required");
    o.charset = CharsetName(o.charset);
}

/// Shows the encoding of each attachment as its progress. The component encodes the
/// attachments in the order they were added (in both modes) and ends each one, an
/// empty one too, with EncodingDone: so the events say which file they are about
/// without their text being taken apart.
class ProgressSink : public TolvanSMTPEvents {
public:
    ProgressSink(Progress::Style style, const std::vector<std::pair<std::string, int32_t>>& attachments)
        : progress_(style)
    {
        for (const auto& [path, encoding] : attachments)
            labels_.push_back(Printable(path.substr(path.find_last_of('/') + 1)));
    }

    void OnSMTPEvent(const std::string&, int32_t task, int32_t param1, int32_t param2) override
    {
        if (task == smtp_event::Encoding.task) {
            progress_.update(label(), param2, param1);
        } else if (task == smtp_event::EncodingDone.task) {
            progress_.finish(label(), param2, param1);
            ++current_;
        }
    }

private:
    std::string label() const { return current_ < labels_.size() ? labels_[current_] : "attachment"; }

    Progress progress_;
    std::vector<std::string> labels_;
    size_t current_ = 0;
};

/// Why `path` cannot be attached, or "" when it can.
std::string AttachRefusal(const std::string& path)
{
    sys::FileFacts facts;
    if (!sys::DescribePath(path, facts))
        return std::strerror(errno);
    if (facts.directory)
        return "it is a directory";
    if (!facts.regular)
        return "not a regular file";
    const size_t slash = path.find_last_of('/');
    if (path[slash == std::string::npos ? 0 : slash + 1] == '.')
        return "hidden files (names starting with '.') are not attached";
    if (!sys::Readable(path))
        return std::strerror(errno);
    return {};
}

/// Why the body file cannot be read, or "".
std::string BodyRefusal(const std::string& path)
{
    sys::FileFacts facts;
    if (!sys::DescribePath(path, facts) || !sys::Readable(path))
        return std::strerror(errno);
    if (facts.directory)
        return "it is a directory";
    if (!facts.regular)
        return "not a regular file ('-' reads standard input)";
    return {};
}

/// The component's own words about the last failure, if it has any.
std::string ServerWords(const TolvanSMTP& smtp)
{
    std::string words = trim(smtp.SMTPError());
    return words == "No Error" ? std::string() : words;
}

/// Adds every recipient; EX_OK, or the status of the first the component refused.
int AddEach(TolvanSMTP& smtp, const std::vector<Recipient>& recipients)
{
    for (const auto& r : recipients) {
        if (const int32_t rc = smtp.AddRecipients(r.name, r.address, r.type); rc != smtp_result::Ok)
            return Report("recipient " + Printable(r.address), Source::SmtpAdd, rc,
                          "too long, holding a blank, angle bracket or control character, or named in bytes "
                          "that are not UTF-8");
    }
    return EX_OK;
}

/// What --dry-run would have offered the server, on standard error.
void PrintEnvelope(const std::string& from, const std::vector<Recipient>& recipients)
{
    std::string line = "envelope: from <" + Printable(from) + "> to ";
    for (size_t i = 0; i < recipients.size(); ++i)
        line += (i ? ", <" : "<") + Printable(recipients[i].address) + ">";
    std::fprintf(stderr, "%s\n", line.c_str());
}

/// Copies a file to standard output: the message of --dry-run.
int CopyToOutput(const std::string& path)
{
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr)
        return Report("cannot read the message back", std::strerror(errno), EX_IOERR);
    char chunk[65536];
    bool written = true;
    for (size_t n; written && (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
        written = std::fwrite(chunk, 1, n, stdout) == n;
    const bool read = !std::ferror(in);
    std::fclose(in);
    if (!read || !written || std::fflush(stdout) != 0)
        return Report("cannot print the message", std::strerror(errno), EX_IOERR);
    return EX_OK;
}

/// --dry-run of a composed message: written by the component as Send would send it.
int PrintComposed(TolvanSMTP& smtp, const Options& o)
{
    PrivateCache dir("send");
    if (!dir.ok())
        return Report("cannot make a private directory for the message", std::strerror(errno), EX_CANTCREAT);
    const std::string path = dir.path() + "message.eml";
    if (const int32_t rc = smtp.SaveMessage(path); rc != file_result::Ok)
        return Report("cannot write the message", Source::FileWrite, rc);
    PrintEnvelope(o.from, o.recipients);
    return CopyToOutput(path);
}

/// The recipients given here and, with -t, those the message names, each address once.
std::vector<Recipient> Envelope(const Options& o, const HeaderAddresses& header)
{
    std::vector<Recipient> all = o.recipients;
    const std::pair<const std::vector<std::string>*, int32_t> fields[] = {
        {&header.to, 1}, {&header.cc, 2}, {&header.bcc, 3}};
    for (const auto& [addresses, type] : fields) {
        for (const std::string& address : *addresses)
            all.push_back({acceptableName("", address), address, type});
    }
    std::vector<Recipient> once;
    for (Recipient& r : all) {
        const auto same = [&](const Recipient& seen) {
            return ::strcasecmp(seen.address.c_str(), r.address.c_str()) == 0;
        };
        if (std::none_of(once.begin(), once.end(), same))
            once.push_back(std::move(r));
    }
    return once;
}

/// --message and -t: a message composed elsewhere, sent as it stands. Standard input,
/// and a message whose Bcc fields must go, are first copied to a private file.
int SendReady(TolvanSMTP& smtp, const Options& o)
{
    std::string path = o.message;
    const std::string shown = o.message == "-" ? "standard input" : "the message file " + Printable(o.message);
    if (o.message != "-") {
        if (std::string why = BodyRefusal(o.message); !why.empty())
            return Report("cannot read " + shown, why, EX_NOINPUT);
    }
    HeaderAddresses header;
    std::optional<PrivateCache> dir;
    if (o.message == "-" || o.readRecipients) {
        dir.emplace("send");
        if (!dir->ok())
            return Report("cannot make a private directory for the message", std::strerror(errno), EX_CANTCREAT);
        path = dir->path() + "message.eml";
        std::FILE* in = o.message == "-" ? stdin : std::fopen(o.message.c_str(), "rb");
        if (in == nullptr)
            return Report("cannot read " + shown, std::strerror(errno), EX_NOINPUT);
        // Owner-only, and never through a name that already exists.
        const int fd = sys::CreatePrivate(path);
        std::FILE* out = fd < 0 ? nullptr : ::fdopen(fd, "wb");
        if (fd >= 0 && out == nullptr)
            sys::Close(fd);
        bool copied = out != nullptr && CopyMessage(in, out, o.readRecipients, header);
        int why = errno;
        if (out != nullptr && std::fclose(out) != 0 && copied)
            copied = false, why = errno;
        if (in != stdin)
            std::fclose(in);
        if (!copied)
            return Report("cannot copy " + shown + " to a private file", std::strerror(why), EX_IOERR);
    }
    if (!o.readRecipients)
        header = {};  // the envelope is the command line's alone
    const std::string from = o.from.empty() ? header.from : o.from;
    if (from.empty())
        return Report("no sender", "the message has no From field; give --from", EX_DATAERR);
    const std::vector<Recipient> recipients = Envelope(o, header);
    if (recipients.empty())
        return Report("no recipients", "the message's To, Cc and Bcc fields name nobody, and none was given",
                      EX_DATAERR);
    if (o.dryRun) {
        PrintEnvelope(from, recipients);
        return CopyToOutput(path);
    }
    smtp.FromEmail(from);
    if (const int status = AddEach(smtp, recipients); status != EX_OK)
        return status;
    if (const int32_t sent = smtp.SendMessageFile(path); sent != smtp_result::Ok)
        return Report("not sent (server " + Printable(o.server) + ")", Source::SmtpSend, sent, ServerWords(smtp));
    if (const int32_t closed = smtp.Disconnect(); closed != smtp_result::Ok)
        return Report("sent, but log-off failed", Source::SmtpSend, closed, ServerWords(smtp));
    return EX_OK;
}

} // namespace

int RunSend(int argc, char** argv)
{
    Options o;
    parse(argc, argv, o);
    if (o.help || o.version) {
        std::fputs(o.help ? sys::HelpText(kSendUsage).c_str() : kVersionLine, stdout);
        std::fputs(o.help ? "" : "\n", stdout);
        return EX_OK;
    }

    auto smtp = TolvanSMTP::Create();
    smtp->Host(o.server);
    smtp->Port(static_cast<int16_t>(static_cast<uint16_t>(o.port ? *o.port : DefaultPort(o.security, 25, 465))));
    smtp->Security(o.security);
    smtp->CAFile(o.caFile);
    if (o.insecure && o.security != security_mode::None && !o.dryRun) {
        WarnInsecure();
        smtp->SkipCertificateCheck(true);
    }
    if (o.timeout)
        smtp->TimeOut(static_cast<int32_t>(*o.timeout));
    if (o.verbose)
        smtp->Trace(std::make_shared<DialoguePrinter>());
    // Nothing is asked for a message that goes nowhere.
    if (!o.user.empty() && !o.dryRun) {
        smtp->UserName(o.user);
        const std::string host = o.server.substr(0, o.server.find(';'));
        if (!o.tokenFile.empty())
            smtp->OAuth2Token(FindPassword({o.tokenFile, "", host, o.user}));
        else
            smtp->Password(FindPassword({o.passwordFile, o.passwordCommand, host, o.user}));
    }
    // Names, subject and headers keep every character; the text is declared UTF-8
    // unless --charset names what its bytes are. Recipient names are judged by it too.
    smtp->InternationalText(true);
    if (o.messageGiven)
        return SendReady(*smtp, o);
    if (o.priority)
        smtp->Priority(static_cast<int32_t>(*o.priority));
    smtp->CustomCharset(o.charset);
    smtp->FromEmail(o.from);
    smtp->FromName(o.fromName);
    smtp->Subject(o.subject);
    smtp->ReplyTo(o.replyTo);
    smtp->ReturnReceipt(o.returnReceipt);
    smtp->UseMIME(!o.plain);
    if (o.contentTypeGiven)
        smtp->ContentType(o.contentType);

    // As mail(1): without --body, text piped in is the body; a terminal is not waited on.
    if (o.body == "-" || (!o.bodyGiven && !sys::IsTerminal(0))) {
        smtp->MailBody(std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()));
    } else if (!o.body.empty()) {
        const std::string what = "cannot read the body file " + Printable(o.body);
        if (std::string why = BodyRefusal(o.body); !why.empty())
            return Report(what, why, EX_NOINPUT);
        if (const int32_t rc = smtp->ImportMailBody(o.body); rc != file_result::Ok)
            return Report(what, Source::FileRead, rc);
    }
    if (const int status = AddEach(*smtp, o.recipients); status != EX_OK)
        return status;
    for (const auto& [name, value] : o.headers) {
        if (const int32_t rc = smtp->AddCustomHeader(name, value); rc != smtp_result::Ok)
            return Report("header " + Printable(name), Source::SmtpAdd, rc);
    }
    for (const auto& [path, encoding] : o.attachments) {
        if (std::string why = AttachRefusal(path); !why.empty())
            return Report("cannot attach " + Printable(path), why, EX_NOINPUT);
        if (const int32_t rc = smtp->AddAttachment(path, encoding); rc != smtp_result::Ok)
            return Report("cannot attach " + Printable(path), Source::SmtpAdd, rc);
    }

    smtp->Advise(std::make_shared<ProgressSink>(Progress::StyleFor(stderr, o.quiet), o.attachments));
    if (o.dryRun)
        return PrintComposed(*smtp, o);
    if (const int32_t sent = smtp->Send(); sent != smtp_result::Ok)
        return Report("not sent (server " + Printable(o.server) + ")", Source::SmtpSend, sent, ServerWords(*smtp));
    if (const int32_t closed = smtp->Disconnect(); closed != smtp_result::Ok)
        return Report("sent, but log-off failed", Source::SmtpSend, closed, ServerWords(*smtp));
    return EX_OK;
}

} // namespace tolmail::cli

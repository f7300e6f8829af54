// tolmail send: composes a message with the TolvanSMTP component and delivers it to an
// SMTP server (RFC 5321), showing attachment progress on standard error.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "progress.h"
#include "terminal_text.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/smtp_codes.h"
#include "tolmail/socket_codes.h"

namespace tolmail::cli {

namespace {

const char* const kSendUsage =
    "usage: tolmail send --from ADDRESS --to RECIPIENT [options]\n"
    "\n"
    "Composes a message and delivers it to an SMTP server. Exits with the component's\n"
    "result code (0 when the message was accepted); SMTPError is printed on failure.\n"
    "\n"
    "server:\n"
    "  --server HOST[;HOST...]   servers tried in order (default 127.0.0.1)\n"
    "  --port N                  server port (default 25)\n"
    "  --timeout S               seconds to wait for each reply, 0 to 1500 (default 15)\n"
    "\n"
    "envelope and header:\n"
    "  --from ADDRESS            sender's address (required)\n"
    "  --from-name NAME          sender's display name\n"
    "  --to RECIPIENT            a To recipient (repeatable)\n"
    "  --cc RECIPIENT            a Cc recipient (repeatable)\n"
    "  --bcc RECIPIENT           a Bcc recipient (repeatable)\n"
    "                            RECIPIENT is 'Name <address>' or a bare address. Names\n"
    "                            keep letters, digits, blanks and - ! @ # % * + = . , only\n"
    "                            (at most 64); a bare address gets its local part as name.\n"
    "  --subject TEXT            subject line\n"
    "  --reply-to ADDRESS        Reply-To header\n"
    "  --return-receipt          ask for a return receipt (Return-Receipt-To header)\n"
    "  --priority N              0 none, 1 highest .. 3 normal .. 5 lowest (default 3)\n"
    "  --header \"Name: value\"    an extra header line (repeatable)\n"
    "\n"
    "body:\n"
    "  --body FILE               message text from FILE ('-' for standard input)\n"
    "  --content-type TYPE       type of a message without attachments (default text/plain;\n"
    "                            an empty TYPE sends no MIME header lines)\n"
    "  --charset N               1 US-ASCII (default), 0 or 2 ISO-8859-1, or a name such\n"
    "                            as UTF-8\n"
    "\n"
    "attachments:\n"
    "  --attach PATH             attach a file (repeatable)\n"
    "  --attach-encoding ENC     encoding of the attachments that follow: base64\n"
    "                            (default), quoted-printable, x-uuencode or binary\n"
    "  --plain                   non-MIME message: the text first, then each attachment\n"
    "                            uuencoded in a transaction of its own\n"
    "\n"
    "output:\n"
    "  --quiet                   no progress display\n"
    "  --help                    this text\n";

constexpr int kUsageError = 2;

struct Recipient {
    std::string name, address;
    int32_t type;
};

struct Options {
    std::string server = "127.0.0.1";
    std::optional<long> port, timeout, priority;
    std::string charset;
    std::string from, fromName, subject, body, contentType = "text/plain", replyTo;
    bool contentTypeGiven = false, returnReceipt = false, plain = false, quiet = false, help = false;
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

constexpr std::string_view kNameCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-!@#%*+=., ";

std::string trim(const std::string& s)
{
    const size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos)
        return {};
    return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

/// A display name the component accepts: other characters become blanks, at most 64.
std::string acceptableName(const std::string& wanted, const std::string& address)
{
    std::string name;
    for (char c : wanted)
        name += kNameCharacters.find(c) == std::string_view::npos ? ' ' : c;
    name = trim(name).substr(0, 64);
    if (!name.empty())
        return name;
    for (char c : address.substr(0, address.find('@')))
        name += kNameCharacters.find(c) == std::string_view::npos ? ' ' : c;
    name = trim(name).substr(0, 64);
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

bool parseNumber(const std::string& text, long& value)
{
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && end != nullptr && *end == '\0';
}

/// Fills `o` from the arguments; returns an error text, empty when all is well.
std::string parse(int argc, char** argv, Options& o)
{
    int32_t encoding = 2;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasInlineValue = false;
        if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInlineValue = true;
        }
        auto flag = [&](const char* name) { return arg == name; };
        auto takesValue = [&](const char* name) -> bool {
            if (arg != name)
                return false;
            if (!hasInlineValue) {
                if (i + 1 >= argc)
                    throw std::string(std::string(name) + " needs a value");
                value = argv[++i];
            }
            return true;
        };
        long n = 0;
        auto number = [&](const char* name) {
            if (!parseNumber(value, n))
                throw std::string(std::string(name) + ": not a number: " + value);
            return n;
        };

        if (flag("--help") || flag("-h"))
            o.help = true;
        else if (flag("--return-receipt"))
            o.returnReceipt = true;
        else if (flag("--plain"))
            o.plain = true;
        else if (flag("--quiet") || flag("-q"))
            o.quiet = true;
        else if (takesValue("--server"))
            o.server = value;
        else if (takesValue("--port"))
            o.port = number("--port");
        else if (takesValue("--timeout"))
            o.timeout = number("--timeout");
        else if (takesValue("--priority"))
            o.priority = number("--priority");
        else if (takesValue("--charset"))
            o.charset = value;
        else if (takesValue("--from"))
            o.from = value;
        else if (takesValue("--from-name"))
            o.fromName = value;
        else if (takesValue("--to"))
            o.recipients.push_back(parseRecipient(value, 1));
        else if (takesValue("--cc"))
            o.recipients.push_back(parseRecipient(value, 2));
        else if (takesValue("--bcc"))
            o.recipients.push_back(parseRecipient(value, 3));
        else if (takesValue("--subject"))
            o.subject = value;
        else if (takesValue("--body"))
            o.body = value;
        else if (takesValue("--content-type"))
            o.contentType = value, o.contentTypeGiven = true;
        else if (takesValue("--reply-to"))
            o.replyTo = value;
        else if (takesValue("--header")) {
            const size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0)
                return "--header needs \"Name: value\": " + value;
            o.headers.emplace_back(trim(value.substr(0, colon)), trim(value.substr(colon + 1)));
        } else if (takesValue("--attach")) {
            o.attachments.emplace_back(value, encoding);
        } else if (takesValue("--attach-encoding")) {
            const EncodingName* found = nullptr;
            for (const auto& e : kEncodings) {
                if (value == e.name)
                    found = &e;
            }
            if (found == nullptr)
                return "unknown encoding '" + value + "' (base64, quoted-printable, x-uuencode or binary)";
            encoding = found->code;
        } else {
            return "unknown option '" + std::string(argv[i]) + "'";
        }
    }
    return {};
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
    const std::string shown = Printable(path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return "no such file: " + shown;
        return "cannot reach " + shown + ": " + std::strerror(errno);
    }
    if (S_ISDIR(st.st_mode))
        return "cannot attach " + shown + ": it is a directory";
    if (!S_ISREG(st.st_mode))
        return "cannot attach " + shown + ": not a regular file";
    const size_t slash = path.find_last_of('/');
    if (path[slash == std::string::npos ? 0 : slash + 1] == '.')
        return "cannot attach " + shown + ": hidden files (names starting with '.') are not attached";
    if (::access(path.c_str(), R_OK) != 0)
        return "cannot read " + shown + ": " + std::strerror(errno);
    return {};
}

int fail(const std::string& text, int code)
{
    std::fprintf(stderr, "tolmail send: %s\n", text.c_str());
    return code;
}

} // namespace

int RunSend(int argc, char** argv)
{
    Options o;
    std::string error;
    try {
        error = parse(argc, argv, o);
    } catch (const std::string& e) {
        error = e;
    }
    if (o.help) {
        std::fputs(kSendUsage, stdout);
        return 0;
    }
    if (!error.empty())
        return fail(error + "\nRun 'tolmail send --help' for the options.", kUsageError);
    if (o.from.empty() || o.recipients.empty())
        return fail("--from and at least one of --to, --cc, --bcc are required", kUsageError);

    auto smtp = TolvanSMTP::Create();
    smtp->Host(o.server);
    if (o.port)
        smtp->Port(static_cast<int16_t>(*o.port));
    if (o.timeout)
        smtp->TimeOut(static_cast<int32_t>(*o.timeout));
    if (o.priority)
        smtp->Priority(static_cast<int32_t>(*o.priority));
    if (!o.charset.empty()) {
        long n = 0;
        if (parseNumber(o.charset, n))
            smtp->CharSet(static_cast<int32_t>(n));
        else
            smtp->CustomCharset(o.charset);
    }
    smtp->FromEmail(o.from);
    smtp->FromName(o.fromName);
    smtp->Subject(o.subject);
    smtp->ReplyTo(o.replyTo);
    smtp->ReturnReceipt(o.returnReceipt);
    smtp->UseMIME(!o.plain);
    if (o.contentTypeGiven)
        smtp->ContentType(o.contentType);

    if (o.body == "-") {
        smtp->MailBody(std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()));
    } else if (!o.body.empty()) {
        if (const int32_t rc = smtp->ImportMailBody(o.body); rc != file_result::Ok)
            return fail("cannot read the body file " + o.body, rc);
    }
    for (const auto& r : o.recipients) {
        if (smtp->AddRecipients(r.name, r.address, r.type) != smtp_result::Ok)
            return fail("recipient refused (too long, or holding a blank, angle bracket or control character): " +
                            Printable(r.address),
                        smtp_result::ArgumentRefused);
    }
    for (const auto& [name, value] : o.headers) {
        if (smtp->AddCustomHeader(name, value) != smtp_result::Ok)
            return fail("header refused: " + name, smtp_result::ArgumentRefused);
    }
    for (const auto& [path, encoding] : o.attachments) {
        if (std::string why = AttachRefusal(path); !why.empty())
            return fail(why, smtp_result::ArgumentRefused);
        if (smtp->AddAttachment(path, encoding) != smtp_result::Ok)
            return fail("cannot attach " + Printable(path), smtp_result::ArgumentRefused);
    }

    smtp->Advise(std::make_shared<ProgressSink>(Progress::StyleFor(stderr, o.quiet), o.attachments));
    const int32_t sent = smtp->Send();
    if (sent != smtp_result::Ok) {
        std::string why = Printable(trim(smtp->SMTPError()));
        if (why.empty() || why == "No Error")
            why = sent == socket_result::OpenFailed ? "cannot connect to " + o.server : "no reply from the server";
        return fail("not sent (" + std::to_string(sent) + "): " + why, sent);
    }
    const int32_t closed = smtp->Disconnect();
    if (closed != smtp_result::Ok)
        return fail("sent, but QUIT failed: " + Printable(trim(smtp->SMTPError())), closed);
    return 0;
}

} // namespace tolmail::cli

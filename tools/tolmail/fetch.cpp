// tolmail fetch: lists or downloads the messages of a POP3 mailbox (RFC 1939) with the
// TolvanPOP3 component and saves their attachments, showing progress on standard error.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "account.h"
#include "commands.h"
#include "maildir.h"
#include "message_files.h"
#include "options.h"
#include "outcome.h"
#include "password.h"
#include "progress.h"
#include "private_cache.h"
#include "save_dir.h"
#include "seen_ids.h"
#include "system.h"
#include "terminal_text.h"
#include "tls_mode.h"
#include "verbose.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/file_codes.h"
#include "tolmail/pop3_codes.h"

namespace tolmail::cli {

namespace {

const char* const kFetchUsage =
    "usage: tolmail fetch --user LOGIN [--list] [--save-dir DIR [--keep]] [--maildir DIR]\n"
    "                     [--delete] [options]\n"
    "\n"
    "Lists the messages of a POP3 mailbox, or downloads them: saves their text and\n"
    "attachments, keeps each message whole, or delivers it into a Maildir.\n"
    "Every failure prints one line on standard error, with the server's own words. A\n"
    "message that fails is never deleted, and the following messages are still fetched\n"
    "while the session lasts; the exit status is then that of the first failure.\n"
    "Options take their value as the next argument or after '=' (--port=2525).\n"
    "\n"
    "server:\n"
    "  -s, --server HOST[;HOST...]  servers tried in order (default 127.0.0.1)\n"
    "  -p, --port N              server port, 1 to 65534 (default 110; 995 with\n"
    "                            --tls implicit)\n"
    "  --tls MODE                how the session is protected: auto (default) STLS when\n"
    "                            the server accepts it, else plain, and then the password\n"
    "                            goes only to a server on this machine; starttls: STLS\n"
    "                            or fail; implicit: TLS from the first byte (port 995);\n"
    "                            off: plain TCP, the password in clear\n"
    "  --ca-file FILE            also trust the certificate authorities in this PEM file\n"
    "                            (a server with a private authority's certificate)\n"
    "  --insecure                accept any certificate (test servers only: the session\n"
    "                            is then open to whoever sits in between)\n"
    "  --timeout S               seconds to wait for each reply, 5 to 1500 (default 15)\n"
    "  -u, --user LOGIN          mailbox user name (required, here or in the account)\n"
    "  --password-file FILE      the password is the first line of FILE (a regular,\n"
    "                            readable file)\n"
    "  --password-command CMD    the password is the first line CMD prints (run with\n"
    "                            /bin/sh -c). Without either, the password comes from\n"
    "                            TOLMAIL_PASSWORD, then a 'machine HOST login USER\n"
    "                            password PW' entry of ~/.netrc (owner-only), then a\n"
    "                            prompt without echo when standard input is a terminal;\n"
    "                            never from the command line. An empty one is refused.\n"
    "\n"
    "accounts:\n"
    "  --config FILE             the accounts file (default\n"
    "                            $XDG_CONFIG_HOME/tolmail/config, else\n"
    "                            ~/.config/tolmail/config); owner-only, or refused\n"
    "  --account NAME            take the values of account NAME (default: the file's\n"
    "                            default account); options given here override them\n"
    "\n"
    "what to do (--list is the default when neither --save-dir nor --maildir is given):\n"
    "  -l, --list                number, size in bytes (as the server counts them),\n"
    "                            sender, subject and date of every message, from the\n"
    "                            headers only (nothing is downloaded in full)\n"
    "  -d, --save-dir DIR        download every message; write its text to\n"
    "                            DIR/message-N.txt and save its attachments in DIR under\n"
    "                            the names the mail gives. Names are made safe (no path,\n"
    "                            no leading dots); an existing file is never overwritten:\n"
    "                            a clash gets a new name (name-1.ext, ...)\n"
    "  --keep                    with --save-dir: also write each whole message as it\n"
    "                            arrived, every header included, to DIR/message-N.eml\n"
    "                            (CR LF line ends, as received)\n"
    "  --maildir DIR             deliver each whole message into the Maildir DIR, made\n"
    "                            with tmp/, new/ and cur/ where missing (owner-only):\n"
    "                            written to tmp/, flushed to the disk, then moved into\n"
    "                            new/; line ends become LF. With or without --save-dir\n"
    "  --delete                  with --save-dir or --maildir: delete each message at the\n"
    "                            server once it was received whole and every copy asked\n"
    "                            for (text, attachments, .eml file, Maildir) was written\n"
    "                            whole (the server removes them at log-off)\n"
    "  --new                     only the messages not fetched before: the server's unique\n"
    "                            ids (UIDL) of the messages saved whole are kept in\n"
    "                            $XDG_STATE_HOME/tolmail (else ~/.local/state/tolmail),\n"
    "                            one file per user and server; a server without unique\n"
    "                            ids ends the run (status 69)\n"
    "  --alternative TYPE        which text of a multipart/alternative message becomes its\n"
    "                            text: PLAIN (default) or HTML (any letter case)\n"
    "  --cache-dir DIR           where parts over 1 MiB wait until they are saved\n"
    "                            (default: a private directory under $TMPDIR, removed\n"
    "                            afterwards); one message is held at a time\n"
    "\n"
    "output:\n"
    "  -q, --quiet               no progress display\n"
    "  -v, --verbose             the dialogue with the server on standard error\n"
    "                            (passwords masked)\n"
    "  -h, --help                this text\n"
    "  -V, --version             the version of tolmail\n"
    "\n"
    "exit status:\n"
    "  0   everything succeeded\n"
    "  64  usage error\n"
    "  65  an attachment does not decode, or the password file's first line or the\n"
    "      password command's output is empty\n"
    "  66  the password file is missing or unreadable\n"
    "  68  no server could be reached\n"
    "  69  the server refused the service (a command of the session), TLS failed (the\n"
    "      reason is shown), or there is no safe way to log in\n"
    "  70  internal error\n"
    "  71  the socket layer did not start\n"
    "  73  a file could not be created\n"
    "  74  a file could not be written whole\n"
    "  75  no reply in time, or a lost connection: try again later\n"
    "  76  the server broke the protocol, or is not a POP3 server\n"
    "  77  log-in refused\n"
    "  78  a fault in the accounts file or ~/.netrc, no password configured, or the\n"
    "      password command failed\n";

// GetMessage: keep the message text in a file of the cache, not in memory.
constexpr int32_t kKeepTextOnDisk = 4;
// GetMessage: also keep the whole message as it arrived in a file of the cache.
constexpr int32_t kKeepWhole = 8;
constexpr long kShortestTimeOut = 5;
constexpr long kPop3Port = 110;
constexpr long kPop3sPort = 995;
constexpr const char* kNoError = "No Error";

struct Options {
    std::string server = "127.0.0.1";
    std::optional<long> port, timeout;
    std::string user, passwordFile, passwordCommand, saveDir, alternative, cacheDir, maildir;
    int32_t security = security_mode::WhenOffered;
    std::string caFile;
    bool insecure = false;
    bool onlyNew = false;
    bool list = false, del = false, keep = false, quiet = false, help = false, version = false;
    bool verbose = false;
};

bool Switch(const std::string& name, const std::string& value);
std::string AlternativeType(const std::string& given);

constexpr KnownOption kFetchOptions[] = {
    {"server", 's', KnownOption::Text},
    {"port", 'p', KnownOption::Number, kLowestPort, kHighestPort},
    {"timeout", 0, KnownOption::Number, kShortestTimeOut, kLongestTimeOut},
    {"tls", 0, KnownOption::Text, 0, 0, false, [](const std::string& value) { SecurityMode(value); }},
    {"ca-file", 0, KnownOption::Text},
    {"insecure", 0, KnownOption::Flag, 0, 0, false, [](const std::string& value) { Switch("insecure", value); }},
    {"user", 'u', KnownOption::Text},
    {"password-file", 0, KnownOption::Text},
    {"password-command", 0, KnownOption::Text},
    {"config", 0, KnownOption::Text},
    {"account", 0, KnownOption::Text},
    {"list", 'l', KnownOption::Flag},
    {"save-dir", 'd', KnownOption::Text},
    {"delete", 0, KnownOption::Flag},
    {"new", 0, KnownOption::Flag, 0, 0, true},
    {"keep", 0, KnownOption::Flag},
    {"maildir", 0, KnownOption::Text},
    {"alternative", 0, KnownOption::Text, 0, 0, false, [](const std::string& value) { AlternativeType(value); }},
    {"cache-dir", 0, KnownOption::Text},
    {"quiet", 'q', KnownOption::Flag},
    {"verbose", 'v', KnownOption::Flag},
    {"help", 'h', KnownOption::Flag},
    {"version", 'V', KnownOption::Flag},
};

/// A switch: on when given on the command line (no value); an account file says yes or no.
bool Switch(const std::string& name, const std::string& value)
{
    if (value.empty() || value == "yes" || value == "true" || value == "on" || value == "1")
        return true;
    if (value == "no" || value == "false" || value == "off" || value == "0")
        return false;
    throw UsageError(name + ": '" + value + "' is neither yes nor no");
}

/// Fills `o`; throws UsageError.
void ParseArgs(int argc, char** argv, Options& o)
{
    for (const GivenOption& given : WithAccount(ParseOptions(argc, argv, kFetchOptions), kFetchOptions)) {
        const std::string name = given.known->name;
        if (name == "server")
            o.server = given.text;
        else if (name == "port")
            o.port = given.number;
        else if (name == "timeout")
            o.timeout = given.number;
        else if (name == "tls")
            o.security = SecurityMode(given.text);
        else if (name == "ca-file")
            o.caFile = given.text;
        else if (name == "insecure")
            o.insecure = Switch(name, given.text);
        else if (name == "user")
            o.user = given.text;
        else if (name == "password-file")
            o.passwordFile = given.text;
        else if (name == "password-command")
            o.passwordCommand = given.text;
        else if (name == "save-dir")
            o.saveDir = given.text;
        else if (name == "alternative")
            o.alternative = given.text;
        else if (name == "cache-dir")
            o.cacheDir = given.text;
        else if (name == "list")
            o.list = true;
        else if (name == "delete")
            o.del = true;
        else if (name == "new")
            o.onlyNew = true;
        else if (name == "keep")
            o.keep = true;
        else if (name == "maildir")
            o.maildir = given.text;
        else if (name == "quiet")
            o.quiet = true;
        else if (name == "verbose")
            o.verbose = true;
        else if (name == "help")
            o.help = true;
        else if (name == "version")
            o.version = true;
    }
    if (o.help || o.version)
        return;
    if (o.server.empty())
        throw UsageError("--server: no server named");
    if (o.user.empty())
        throw UsageError("--user is required");
    if (o.del && o.saveDir.empty() && o.maildir.empty())
        throw UsageError("--delete needs --save-dir or --maildir (messages are only deleted once they are saved)");
    if (o.keep && o.saveDir.empty())
        throw UsageError("--keep needs --save-dir (the directory the whole messages go to)");
    o.alternative = AlternativeType(o.alternative);
}

/// --alternative's value as the parts' subtypes are written (upper case); "" stays "".
std::string AlternativeType(const std::string& given)
{
    std::string type = given;
    for (char& c : type)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!type.empty() && type != "PLAIN" && type != "HTML")
        throw UsageError("--alternative: '" + given + "' is neither PLAIN nor HTML");
    return type;
}

/// The server's own words about the last failure, if it gave any.
std::string Words(const TolvanPOP3& pop3)
{
    const std::string error = pop3.POP3Error();
    return error == kNoError ? std::string() : error;
}

/// Progress of the retrieval (a message retrieved, a header read) and of Save's decoding.
class ProgressSink : public TolvanPOP3Events {
public:
    ProgressSink(Progress::Style style, int32_t count) : progress_(style), count_(count) {}

    void OnPOP3Event(const std::string&, int32_t task, int32_t param1, int32_t param2) override
    {
        switch (task) {
        case pop3_event::Retrieving.task:
            progress_.update("retrieving messages", retrieved_++, count_, "messages");
            break;
        case pop3_event::EmailHeader.task:
            progress_.update("reading headers", param2 - 1, count_, "messages");
            break;
        case pop3_event::Decoding.task:
            progress_.update(saving_, static_cast<int64_t>(param1) - param2, param1);
            break;
        case pop3_event::DecodingDone.task:
            progress_.finish(saving_, param1, param1);
            break;
        default:
            break;
        }
    }

    void saving(const std::string& name) { saving_ = "saving " + Printable(name); }
    void finish(const std::string& label) { progress_.finish(label, count_, count_, "messages"); }
    /// Retrieval may stop early: the bar ends where it did.
    void finishRetrieving() { progress_.finish("retrieving messages", retrieved_, count_, "messages"); }

private:
    Progress progress_;
    int32_t count_;
    int32_t retrieved_ = 0;
    std::string saving_;
};

void PrintList(TolvanPOP3& pop3)
{
    int number = 0;
    for (const auto& message : pop3.Messages()->NewEnum()) {
        std::string from = message->FromAddress();
        if (!message->FromName().empty())
            from = message->FromName() + " <" + from + ">";
        std::printf("%4d %10s  %-32s  %-40s  %s\n", ++number, Printable(message->Size(), 20).c_str(),
                    Printable(from).c_str(), Printable(message->Subject()).c_str(),
                    Printable(message->DateTime(), 80).c_str());
    }
}

/// "message N" or "messages N to M".
std::string Numbers(int first, int last)
{
    if (first == last)
        return "message " + std::to_string(first);
    return "messages " + std::to_string(first) + " to " + std::to_string(last);
}

/// Where the downloaded messages go: DIR (its text and attachments, and with `whole`
/// the message as it arrived), a Maildir, or both.
struct Targets {
    const SaveDir* dir = nullptr;
    bool whole = false;
    Maildir* maildir = nullptr;
    SeenIds* seen = nullptr;  // --new: records each message saved whole
};

/// Delivers the message into the Maildir; EX_OK or the exit status of the failure.
int Deliver(const Message& message, int number, Maildir& maildir)
{
    const Delivery delivery = maildir.deliver(message.RawMsgFilename());
    if (delivery.status != EX_OK)
        return Report("message " + std::to_string(number) + ": delivering it into the Maildir",
                      Printable(delivery.why), delivery.status);
    std::printf("message %d: delivered to %s (%lld bytes)\n", number,
                Printable(maildir.path() + "/" + delivery.name).c_str(), delivery.bytes);
    return EX_OK;
}

/// Retrieves, saves and releases one message at a time, so that memory and the cache
/// hold a single message. A message is deleted only when it arrived whole and every
/// copy of it was written whole; a message that fails stays at the server, and the
/// next one is fetched while the session still answers. The exit status of the first
/// failure, or EX_OK; `sessionLost` tells whether the connection went.
int DownloadAll(TolvanPOP3& pop3, const Targets& to, const std::string& cache, ProgressSink& sink, bool deleteSaved,
                bool& sessionLost)
{
    const int32_t param = kKeepTextOnDisk | (to.whole || to.maildir ? kKeepWhole : 0);
    Ref<Messages> messages = pop3.Messages();
    const int32_t count = messages->Count();
    int firstFailure = EX_OK;
    int failed = 0;
    const auto note = [&](int status) {
        if (firstFailure == EX_OK)
            firstFailure = status;
    };
    for (int number = 1; number <= count; ++number) {
        Ref<Message> message = messages->Item(Variant(1));
        messages->Remove(Variant(1));
        const std::string label = "message " + std::to_string(number) + ": ";
        if (int32_t result = message->GetMessage(param); result != pop3_result::Ok) {
            note(Report(label + "retrieval failed, left at the server", Source::Pop3Session, result, Words(pop3)));
            ++failed;
            // The component either read on to the message's end or closed the connection.
            if (pop3.KeepAlive() != pop3_result::Ok) {
                sessionLost = true;
                if (number < count)
                    Report(Numbers(number + 1, count), "not retrieved: the session with the server is lost",
                           EX_TEMPFAIL);
                failed += count - number;
                break;
            }
            continue;
        }
        // The Maildir reads the cached whole message before --keep moves it into DIR.
        int status = to.maildir ? Deliver(*message, number, *to.maildir) : EX_OK;
        if (to.dir) {
            const int saved = SaveMessageFiles(*message, number, *to.dir, to.whole, cache,
                                               [&](const std::string& name) { sink.saving(name); });
            status = status != EX_OK ? status : saved;
        }
        if (status != EX_OK) {
            note(status);
            ++failed;
            continue;
        }
        if (to.seen)
            to.seen->saved(message->UniqueId());
        if (!deleteSaved)
            continue;
        if (int32_t result = message->DeleteAtServer(); result != pop3_result::Ok)
            note(Report(label + "saved, but deleting it at the server failed", Source::Pop3Session, result,
                        Words(pop3)));
    }
    if (failed > 0)
        Report(std::to_string(failed) + " of " + std::to_string(count) + (count == 1 ? " message" : " messages") +
                   " not saved whole",
               "they stay at the server", firstFailure);
    return firstFailure;
}

/// --new: drops from the collection every message an earlier run saved, remembering
/// which of those the server still holds. EX_OK, or EX_UNAVAILABLE when the server gave
/// no unique ids to tell them by.
int KeepOnlyNew(TolvanPOP3& pop3, SeenIds& seen)
{
    Ref<Messages> messages = pop3.Messages();
    for (int32_t position = messages->Count(); position >= 1; --position) {
        const std::string id = messages->Item(Variant(position))->UniqueId();
        if (id.empty())
            return Report("--new", "the server gives no unique ids of its messages (UIDL), so new mail cannot be told "
                                   "from old" + (Words(pop3).empty() ? std::string() : ": " + Printable(Words(pop3))),
                          EX_UNAVAILABLE);
        seen.stillAtServer(id);
        if (seen.seen(id))
            messages->Remove(Variant(position));
    }
    return EX_OK;
}

/// Logs in, lists or downloads, logs off; the exit status.
int Fetch(const Options& o, const std::string& password, const std::optional<SaveDir>& dir,
          std::optional<Maildir>& maildir, const std::string& cache, SeenIds* seen)
{
    // The messages and their temporary files go before the caller's cache does.
    Ref<TolvanPOP3> pop3 = TolvanPOP3::Create();
    const long port = o.port.value_or(DefaultPort(o.security, kPop3Port, kPop3sPort));
    pop3->Host(o.server);
    pop3->Port(static_cast<int16_t>(static_cast<uint16_t>(port)));
    pop3->TimeOut(static_cast<int32_t>(o.timeout.value_or(15)));
    pop3->Security(o.security);
    pop3->CAFile(o.caFile);
    pop3->SkipCertificateCheck(o.insecure);
    pop3->Login(o.user);
    pop3->Password(password);
    pop3->CachedDirectory(cache);
    pop3->MaxMemAttachment(kPartsInMemory);
    // Names and texts as UTF-8: files get the names the sender gave them.
    pop3->InternationalText(true);
    if (!o.alternative.empty())
        pop3->AlternativeType(o.alternative);
    if (o.verbose)
        pop3->Trace(std::make_shared<DialoguePrinter>());

    if (int32_t result = pop3->Connect(); result != pop3_result::Ok)
        return Report("log-in to " + Printable(o.server) + " port " + std::to_string(port), Source::Pop3Connect,
                      result, Words(*pop3));
    const int32_t count = pop3->GetMessageCount();
    auto sink = std::make_shared<ProgressSink>(Progress::StyleFor(stderr, o.quiet), count);
    pop3->Advise(sink);

    // The header pass makes the message objects that the download then fills.
    int status = EX_OK;
    pop3->FetchUniqueIds(seen != nullptr);
    const int32_t headers = pop3->GetMessageHeader();
    sink->finish("reading headers");
    if (headers != pop3_result::Ok)
        status = Report("reading the message headers (nothing was downloaded)", Source::Pop3Session, headers,
                        Words(*pop3));
    if (status == EX_OK && seen)
        status = KeepOnlyNew(*pop3, *seen);
    const bool download = dir || maildir;
    if (o.list || !download)
        PrintList(*pop3);
    bool sessionLost = false;
    if (status == EX_OK && download) {
        const Targets to{dir ? &*dir : nullptr, o.keep, maildir ? &*maildir : nullptr, seen};
        status = DownloadAll(*pop3, to, cache, *sink, o.del, sessionLost);
        sink->finishRetrieving();
        if (seen && !seen->store()) {
            const int failure = Report("cannot record the messages fetched in " + Printable(seen->path()),
                                       Printable(seen->why()) + " (the next --new run fetches them again)",
                                       EX_CANTCREAT);
            if (status == EX_OK)
                status = failure;
        }
    }
    if (const int32_t logoff = pop3->Disconnect(); logoff != pop3_result::Ok && !sessionLost) {
        const int failure =
            Report(o.del ? "log-off (the server may keep the messages marked for deletion)" : "log-off",
                   Source::Pop3Session, logoff, Words(*pop3));
        if (status == EX_OK)
            status = failure;
    }
    return status;
}

} // namespace

int RunFetch(int argc, char** argv)
{
    Options o;
    ParseArgs(argc, argv, o);
    if (o.help || o.version) {
        std::fputs(o.help ? sys::HelpText(kFetchUsage).c_str() : kVersionLine, stdout);
        std::fputs(o.help ? "" : "\n", stdout);
        return EX_OK;
    }
    if (o.insecure)
        WarnInsecure();
    const std::string password =
        FindPassword({o.passwordFile, o.passwordCommand, o.server.substr(0, o.server.find(';')), o.user});
    std::optional<SaveDir> dir;
    if (!o.saveDir.empty()) {
        dir.emplace(o.saveDir);
        if (!dir->ok())
            return Report("cannot open the directory " + Printable(o.saveDir), std::strerror(errno), EX_CANTCREAT);
    }
    std::optional<Maildir> maildir;
    if (!o.maildir.empty()) {
        maildir.emplace(o.maildir);
        if (!maildir->ok())
            return Report("cannot use the Maildir", Printable(maildir->why()), EX_CANTCREAT);
    }
    std::optional<PrivateCache> privateCache;
    std::string cache = o.cacheDir;
    if (cache.empty()) {
        privateCache.emplace();
        if (!privateCache->ok())
            return Report("cannot create a private cache directory", std::strerror(errno), EX_CANTCREAT);
        cache = privateCache->path();
    } else if (cache.back() != '/') {
        cache += '/';
    }
    // An exception ends the command in main, after the cache is gone.
    std::optional<SeenIds> seen;
    if (o.onlyNew) {
        seen.emplace(o.server, o.port.value_or(DefaultPort(o.security, kPop3Port, kPop3sPort)), o.user);
        if (!seen->load())
            return Report("cannot read " + Printable(seen->path()), Printable(seen->why()), EX_NOINPUT);
    }
    return Fetch(o, password, dir, maildir, cache, seen ? &*seen : nullptr);
}

} // namespace tolmail::cli

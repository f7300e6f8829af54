// tolmail fetch: lists or downloads the messages of a POP3 mailbox (RFC 1939) with the
// TolvanPOP3 component and saves their attachments, showing progress on standard error.
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "codec/quoted_printable.h"
#include "commands.h"
#include "progress.h"
#include "save_dir.h"
#include "tolmail/TolvanPOP3.h"

namespace tolmail::cli {

namespace {

const char* const kFetchUsage =
    "usage: tolmail fetch --user LOGIN [--list] [--save-dir DIR [--delete]] [options]\n"
    "\n"
    "Lists the messages of a POP3 mailbox, or downloads them and saves their attachments.\n"
    "Exits with the component's result code: 0 when everything succeeded, else the code\n"
    "of the first step that failed (log-in, retrieval, or saving an attachment).\n"
    "\n"
    "server:\n"
    "  --server HOST[;HOST...]   servers tried in order (default 127.0.0.1)\n"
    "  --port N                  server port (default 110)\n"
    "  --timeout S               seconds to wait for each reply, at least 5 (default 15)\n"
    "  --user LOGIN              mailbox user name (required)\n"
    "  --password-file FILE      the password is the first line of FILE; without this\n"
    "                            option it comes from the environment variable\n"
    "                            TOLMAIL_PASSWORD (never from the command line)\n"
    "\n"
    "what to do (--list is the default when --save-dir is not given):\n"
    "  --list                    number, size, sender, subject and date of every message,\n"
    "                            from the headers only (nothing is downloaded in full)\n"
    "  --save-dir DIR            download every message; write its text to\n"
    "                            DIR/message-N.txt and save its attachments in DIR under\n"
    "                            the names the mail gives. Names are made safe (no path,\n"
    "                            no leading dots); an existing file is never overwritten:\n"
    "                            a clash gets a new name (name-1.ext, ...)\n"
    "  --delete                  with --save-dir: delete each message at the server once\n"
    "                            its text and attachments are saved (the server removes\n"
    "                            them at log-off)\n"
    "  --alternative TYPE        which text of a multipart/alternative message becomes its\n"
    "                            text: PLAIN (default) or HTML (any letter case)\n"
    "  --cache-dir DIR           where parts over 1 MiB wait until they are saved\n"
    "                            (default: a private directory under $TMPDIR, removed\n"
    "                            afterwards); one message is held at a time\n"
    "\n"
    "output:\n"
    "  --quiet                   no progress display\n"
    "  --help                    this text\n";

constexpr int kUsageError = 2;
// Parts below this size stay in memory; larger ones wait in the cache directory. One
// message is held at a time, so this bounds the memory a mailbox can take.
constexpr int32_t kPartsInMemory = 1024 * 1024;

struct Options {
    std::string server = "127.0.0.1";
    std::optional<long> port, timeout;
    std::string user, passwordFile, saveDir, alternative, cacheDir;
    bool list = false, del = false, quiet = false, help = false;
};

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "tolmail fetch: %s\n(see tolmail fetch --help)\n", message.c_str());
    return kUsageError;
}

bool ParseNumber(const char* text, long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

/// Fills `o`; an empty string when the arguments are fine, else the complaint.
std::string ParseArgs(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc)
                return false;
            into = argv[++i];
            return true;
        };
        auto number = [&](std::optional<long>& into) {
            long n = 0;
            if (i + 1 >= argc || !ParseNumber(argv[i + 1], n))
                return false;
            ++i;
            into = n;
            return true;
        };
        bool ok = true;
        if (arg == "--server")
            ok = value(o.server);
        else if (arg == "--port")
            ok = number(o.port) && *o.port > 0 && *o.port < 65536;
        else if (arg == "--timeout")
            ok = number(o.timeout) && *o.timeout >= 0;
        else if (arg == "--user")
            ok = value(o.user);
        else if (arg == "--password-file")
            ok = value(o.passwordFile);
        else if (arg == "--save-dir")
            ok = value(o.saveDir);
        else if (arg == "--alternative")
            ok = value(o.alternative);
        else if (arg == "--cache-dir")
            ok = value(o.cacheDir);
        else if (arg == "--list")
            o.list = true;
        else if (arg == "--delete")
            o.del = true;
        else if (arg == "--quiet")
            o.quiet = true;
        else if (arg == "--help" || arg == "-h")
            o.help = true;
        else
            return "unknown option '" + arg + "'";
        if (!ok)
            return "option " + arg + " needs a valid value";
    }
    if (o.help)
        return {};
    if (o.user.empty())
        return "--user is required";
    if (o.del && o.saveDir.empty())
        return "--delete needs --save-dir (messages are only deleted once they are saved)";
    return {};
}

/// The password from the file's first line or from TOLMAIL_PASSWORD.
bool ReadPassword(const Options& o, std::string& password)
{
    if (o.passwordFile.empty()) {
        const char* env = std::getenv("TOLMAIL_PASSWORD");
        if (!env)
            return false;
        password = env;
        return true;
    }
    std::ifstream in(o.passwordFile, std::ios::binary);
    if (!in)
        return false;
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return true;
}

/// Progress for the retrieval events (11 to 15) and Save's decoding events (20, 21).
class ProgressSink : public TolvanPOP3Events {
public:
    ProgressSink(Progress::Style style, int32_t count) : progress_(style), count_(count) {}

    void OnPOP3Event(const std::string& text, int32_t task, int32_t param1, int32_t param2) override
    {
        switch (task) {
        case 11:
            progress_.update("retrieving messages", retrieved_++, count_, "messages");
            break;
        case 15:
            progress_.update("reading headers", param2 - 1, count_, "messages");
            break;
        case 20:
            progress_.update(saving_, static_cast<int64_t>(param1) - param2, param1);
            break;
        case 21:
            progress_.finish(saving_, param1, param1);
            break;
        default:
            (void)text;
            break;
        }
    }

    void saving(const std::string& name) { saving_ = "saving " + name; }
    void finish(const std::string& label) { progress_.finish(label, count_, count_, "messages"); }

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
        std::printf("%4d %10s  %-32s  %-40s  %s\n", ++number, message->Size().c_str(), from.c_str(),
                    message->Subject().c_str(), message->DateTime().c_str());
    }
}

/// A file extension for a part that names no file, from its content type.
std::string ExtensionOf(const Attachment& part)
{
    std::string type = part.ContentType() + "/" + part.ContentSubType();
    for (char& c : type)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (type == "text/plain")
        return ".txt";
    if (type == "text/html")
        return ".html";
    if (type == "message/rfc822")
        return ".eml";
    return ".bin";
}

/// True for the unnamed text part that became the message's text.
bool IsMessageText(const Attachment& part, const std::string& text)
{
    if (!part.Filename().empty() || part.ContentType() != "TEXT" || !part.TempFilename().empty())
        return false;
    if (part.Encoding() == "QUOTED-PRINTABLE")
        return codec::QpDecode(part.AttachmentBody()) == text;
    return part.AttachmentBody() == text;
}

/// Writes a message's text and saves its attachments; 0, or the first failing code.
int32_t SaveMessage(Message& message, int number, const SaveDir& dir, ProgressSink& sink)
{
    int32_t firstFailure = 0;
    std::string chosen;
    const std::string text = message.MessageText();
    int32_t result = dir.create("message-" + std::to_string(number) + ".txt",
                                [&](const std::string& path) {
                                    return dir.writeNew(std::filesystem::path(path).filename(), text);
                                },
                                chosen);
    if (result != 0) {
        std::fprintf(stderr, "tolmail fetch: message %d: writing its text failed (%d)\n", number, result);
        firstFailure = result;
    }
    int part = 0;
    for (const auto& attachment : message.Attachments()->NewEnum()) {
        ++part;
        if (IsMessageText(*attachment, text))
            continue;  // already written as the message's text
        const std::string fallback =
            "message-" + std::to_string(number) + "-part-" + std::to_string(part) + ExtensionOf(*attachment);
        const std::string name = SafeFileName(attachment->Filename(), fallback);
        sink.saving(name);
        result = dir.create(name, [&](const std::string& path) { return attachment->Save(path); }, chosen);
        if (result != 0) {
            std::fprintf(stderr, "tolmail fetch: message %d: saving '%s' failed (%d)\n", number, name.c_str(), result);
            if (firstFailure == 0)
                firstFailure = result;
            continue;
        }
        std::printf("message %d: saved %s (%s encoded characters)\n", number, chosen.c_str(),
                    attachment->Size().c_str());
    }
    return firstFailure;
}

/// Retrieves, saves and releases one message at a time, so that memory and the cache
/// hold a single message. Deletion waits until a message's files are written, so a
/// failed save never loses mail. The first failing code, or 0.
int32_t DownloadAll(TolvanPOP3& pop3, const SaveDir& dir, ProgressSink& sink, bool deleteSaved)
{
    Ref<Messages> messages = pop3.Messages();
    const int32_t count = messages->Count();
    int32_t firstFailure = 0;
    for (int number = 1; number <= count; ++number) {
        Ref<Message> message = messages->Item(Variant(1));
        messages->Remove(Variant(1));
        if (int32_t result = message->GetMessage(0)) {
            std::fprintf(stderr, "tolmail fetch: message %d: retrieval failed (%d)\n", number, result);
            return firstFailure ? firstFailure : result;
        }
        int32_t result = SaveMessage(*message, number, dir, sink);
        if (result == 0 && deleteSaved)
            result = message->DeleteAtServer();
        if (firstFailure == 0)
            firstFailure = result;
    }
    return firstFailure;
}

/// A private cache directory under $TMPDIR, removed when the command ends.
class PrivateCache {
public:
    PrivateCache()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolmail-fetch-XXXXXX";
        if (::mkdtemp(base.data()))
            path_ = base + "/";
    }
    ~PrivateCache()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace

int RunFetch(int argc, char** argv)
{
    Options o;
    if (std::string complaint = ParseArgs(argc, argv, o); !complaint.empty())
        return UsageError(complaint);
    if (o.help) {
        std::fputs(kFetchUsage, stdout);
        return 0;
    }
    std::string password;
    if (!ReadPassword(o, password))
        return UsageError(o.passwordFile.empty() ? "no password: set TOLMAIL_PASSWORD or give --password-file"
                                                 : "cannot read the password file " + o.passwordFile);
    std::optional<SaveDir> dir;
    if (!o.saveDir.empty()) {
        dir.emplace(o.saveDir);
        if (!dir->ok())
            return UsageError("cannot open the directory " + o.saveDir);
    }
    std::optional<PrivateCache> privateCache;
    std::string cache = o.cacheDir;
    if (cache.empty()) {
        privateCache.emplace();
        cache = privateCache->path();
    } else if (cache.back() != '/') {
        cache += '/';
    }

    {
        // The messages and their temporary files go before the private cache does.
        Ref<TolvanPOP3> pop3 = TolvanPOP3::Create();
        pop3->Host(o.server);
        pop3->Port(static_cast<int16_t>(o.port.value_or(110)));
        pop3->TimeOut(static_cast<int32_t>(o.timeout.value_or(15)));
        pop3->Login(o.user);
        pop3->Password(password);
        pop3->CachedDirectory(cache);
        pop3->MaxMemAttachment(kPartsInMemory);
        if (!o.alternative.empty()) {
            std::string type = o.alternative;
            for (char& c : type)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            pop3->AlternativeType(type);  // parts' subtypes are held in upper case
        }

        int32_t result = pop3->Connect();
        if (result != 0) {
            std::fprintf(stderr, "tolmail fetch: log-in failed (%d): %s\n", result, pop3->POP3Error().c_str());
            return result;
        }
        const int32_t count = pop3->GetMessageCount();
        auto sink = std::make_shared<ProgressSink>(Progress::StyleFor(stderr, o.quiet), count);
        pop3->Advise(sink);

        // The header pass makes the message objects that the download then fills.
        result = pop3->GetMessageHeader();
        sink->finish("reading headers");
        if (o.list || !dir)
            PrintList(*pop3);
        if (result == 0 && dir) {
            result = DownloadAll(*pop3, *dir, *sink, o.del);
            sink->finish("retrieving messages");
        }
        const int32_t logoff = pop3->Disconnect();
        return result != 0 ? result : logoff;
    }
}

} // namespace tolmail::cli

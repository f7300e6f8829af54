// tolmail fetch: lists or downloads the messages of a POP3 mailbox (RFC 1939) with the
// TolvanPOP3 component and saves their attachments, showing progress on standard error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "codec/quoted_printable.h"
#include "commands.h"
#include "progress.h"
#include "private_cache.h"
#include "save_dir.h"
#include "terminal_text.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/file_codes.h"
#include "tolmail/pop3_codes.h"
#include "tolmail/socket_codes.h"
#include "tolmail/error.h"

namespace tolmail::cli {

namespace {

const char* const kFetchUsage =
    "usage: tolmail fetch --user LOGIN [--list] [--save-dir DIR [--delete]] [options]\n"
    "\n"
    "Lists the messages of a POP3 mailbox, or downloads them and saves their attachments.\n"
    "Exits with the component's result code: 0 when everything succeeded, else the code\n"
    "of the first step that failed (log-in, retrieval, or saving an attachment); every\n"
    "failure prints a line on standard error. A message that fails is never deleted,\n"
    "and the following messages are still fetched while the session lasts.\n"
    "\n"
    "server:\n"
    "  --server HOST[;HOST...]   servers tried in order (default 127.0.0.1)\n"
    "  --port N                  server port (default 110)\n"
    "  --timeout S               seconds to wait for each reply, at least 5 (default 15)\n"
    "  --user LOGIN              mailbox user name (required)\n"
    "  --password-file FILE      the password is the first line of FILE (a regular,\n"
    "                            readable file); without this option it comes from the\n"
    "                            environment variable TOLMAIL_PASSWORD (never from the\n"
    "                            command line). An empty password is refused.\n"
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
    "                            it was received whole and its text and every attachment\n"
    "                            were written whole (the server removes them at log-off)\n"
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
// GetMessage: keep the message text in a file of the cache, not in memory.
constexpr int32_t kKeepTextOnDisk = 4;
// Attachment.Save's code for a body that does not decode (on the file road it is a
// result; on the in-memory road it arrives as an exception).
constexpr int32_t kUndecodable = file_result::OtherFailure;
// The first line of a password file is all that is read of it.
constexpr size_t kLongestPasswordFile = 64 * 1024;
constexpr const char* kNoError = "No Error";

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

/// Why the file cannot give a password, or "" with `password` set to its first line.
std::string ReadPasswordFile(const std::string& path, std::string& password)
{
    const std::string shown = "the password file " + Printable(path);
    // Non-blocking, so that a FIFO is refused rather than waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return "cannot open " + shown + ": " + std::strerror(errno);
    struct stat st {};
    std::string text;
    std::string why;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = shown + (S_ISDIR(st.st_mode) ? " is a directory" : " is not a regular file");
    } else {
        char buffer[4096];
        while (text.size() < kLongestPasswordFile && text.find('\n') == std::string::npos) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                why = "cannot read " + shown + ": " + std::strerror(errno);
            if (got <= 0)
                break;
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    ::close(fd);
    if (!why.empty())
        return why;
    password = text.substr(0, text.find('\n'));
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return password.empty() ? "the first line of " + shown + " is empty (no password)" : "";
}

/// Why there is no password, or "" with `password` set from --password-file or
/// TOLMAIL_PASSWORD.
std::string ReadPassword(const Options& o, std::string& password)
{
    if (!o.passwordFile.empty())
        return ReadPasswordFile(o.passwordFile, password);
    const char* env = std::getenv("TOLMAIL_PASSWORD");
    if (!env)
        return "no password: set TOLMAIL_PASSWORD or give --password-file";
    password = env;
    return password.empty() ? "the password in TOLMAIL_PASSWORD is empty" : "";
}

struct Meaning {
    int32_t code;
    const char* text;
};

// What the codes mean: of Connect (its own, and the socket's it passes on), and of the
// steps of a session (RETR, DELE, NOOP, QUIT).
constexpr Meaning kLogInMeanings[] = {
    {socket_result::NothingArrived, "no reply from the server in time"},
    {socket_result::NotConnected, "the connection was lost"},
    {socket_result::OpenFailed, "cannot connect to the server"},
    {pop3_result::LoginRefused, "log-in refused"},
    {pop3_result::NotPop3Server, "not a POP3 server"},
};
constexpr Meaning kSessionMeanings[] = {
    {pop3_result::NoReply, "no reply from the server in time"},
    {pop3_result::ConnectionLost, "the connection was lost"},
    {pop3_result::TempFileFailed, "a temporary file could not be created or written"},
    {pop3_result::TextFileFailed, "the message text could not be written to the cache directory"},
    {pop3_result::Refused, "refused by the server"},
    {pop3_result::QuitRefused, "refused by the server"},
    {pop3_result::ProtocolError, "protocol error"},
};

// What the file codes of saving mean.
constexpr Meaning kFileMeanings[] = {
    {file_result::Exists, "every name of that form is taken"},
    {file_result::DiskFull, "disk full"},
    {file_result::PermissionDenied, "permission denied"},
    {file_result::NotReady, "disk not ready"},
    {file_result::SavePermissionDenied, "permission denied"},
    {file_result::PathNotFound, "path not found"},
    {file_result::Missing, "its temporary file is missing"},
    {file_result::OtherFailure, "file error"},
};

const char* MeaningOf(int32_t code, std::span<const Meaning> meanings)
{
    for (const Meaning& row : meanings)
        if (row.code == code)
            return row.text;
    return "failed";
}

/// "(code, meaning): server's text" for a failed step of the component.
std::string Why(int32_t code, const TolvanPOP3& pop3, std::span<const Meaning> meanings = kSessionMeanings)
{
    // '(' as a character: "(" + std::string&& draws a false -Wrestrict from GCC 12 (bug 105651).
    std::string why = '(' + std::to_string(code) + ", " + MeaningOf(code, meanings) + ")";
    const std::string error = pop3.POP3Error();
    if (!error.empty() && error != kNoError)
        why += ": " + Printable(error);
    return why;
}

void Complain(const std::string& text)
{
    std::fprintf(stderr, "tolmail fetch: %s\n", text.c_str());
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

/// The message's text, to recognise its text part among the attachments: from memory,
/// or read back from its file when it is small enough to be a part held in memory.
std::optional<std::string> TextToCompare(const Message& message)
{
    const std::string file = message.FullMsgFilename();
    if (file.empty())
        return message.MessageText();
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > static_cast<uintmax_t>(kPartsInMemory))
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return in.bad() ? std::nullopt : std::optional(std::move(text));
}

/// Writes the message's text: moves its file from the cache, or writes it from memory.
int32_t SaveText(const Message& message, int number, const SaveDir& dir, std::string& chosen)
{
    const std::string file = message.FullMsgFilename();
    return dir.create("message-" + std::to_string(number) + ".txt",
                      [&](const std::string& path) {
                          const std::string name = std::filesystem::path(path).filename();
                          return file.empty() ? dir.writeNew(name, message.MessageText()) : dir.adopt(name, file);
                      },
                      chosen);
}

/// Saves one attachment under `name`; file_result::Ok, or the failing code with `why` set.
int32_t SaveAttachment(Attachment& attachment, const std::string& name, const SaveDir& dir, std::string& chosen,
                       std::string& why)
{
    int32_t result = file_result::Ok;
    try {
        result = dir.create(name,
                            [&](const std::string& path) {
                                // Any entry, a dangling link included, is taken: so a file
                                // found after a failed Save is Save's own.
                                struct stat st {};
                                return ::lstat(path.c_str(), &st) == 0 ? file_result::Exists : attachment.Save(path);
                            },
                            chosen);
    } catch (const std::exception& e) {
        // A small part that does not decode arrives here rather than as a code.
        why = Printable(e.what());
        result = kUndecodable;
    }
    if (result == file_result::Ok)
        return result;
    // Exists: every candidate name was taken, none of them is ours. Otherwise a file that
    // Save began must not pass for the attachment.
    if (result != file_result::Exists)
        dir.discard(chosen);
    if (why.empty())
        why = MeaningOf(result, kFileMeanings);
    return result;
}

/// Writes a message's text and saves its attachments; 0 when every file was written
/// whole, else the first failing code.
int32_t SaveMessage(Message& message, int number, const SaveDir& dir, ProgressSink& sink)
{
    int32_t firstFailure = file_result::Ok;
    std::string chosen;
    const std::optional<std::string> text = TextToCompare(message);
    if (int32_t result = SaveText(message, number, dir, chosen); result != file_result::Ok) {
        Complain("message " + std::to_string(number) + ": writing its text failed (" + std::to_string(result) +
                 "): " + MeaningOf(result, kFileMeanings));
        firstFailure = result;
    }
    int part = 0;
    for (const auto& attachment : message.Attachments()->NewEnum()) {
        ++part;
        if (text && IsMessageText(*attachment, *text))
            continue;  // already written as the message's text
        const std::string fallback =
            "message-" + std::to_string(number) + "-part-" + std::to_string(part) + ExtensionOf(*attachment);
        const std::string name = SafeFileName(attachment->Filename(), fallback);
        sink.saving(name);
        std::string why;
        if (int32_t result = SaveAttachment(*attachment, name, dir, chosen, why); result != file_result::Ok) {
            Complain("message " + std::to_string(number) + ": saving '" + Printable(name) + "' failed (" +
                     std::to_string(result) + "): " + why);
            if (firstFailure == file_result::Ok)
                firstFailure = result;
            continue;
        }
        std::printf("message %d: saved %s (%s encoded characters)\n", number, Printable(chosen).c_str(),
                    Printable(attachment->Size(), 20).c_str());
    }
    return firstFailure;
}

/// ": message N was not retrieved" or ": messages N to M were not retrieved"; "" when
/// none is left.
std::string NotRetrieved(int first, int last)
{
    if (first > last)
        return "";
    if (first == last)
        return ": message " + std::to_string(first) + " was not retrieved";
    return ": messages " + std::to_string(first) + " to " + std::to_string(last) + " were not retrieved";
}

/// Retrieves, saves and releases one message at a time, so that memory and the cache
/// hold a single message. A message is deleted only when it arrived whole and every
/// file of it was written whole; a message that fails stays at the server, and the
/// next one is fetched while the session still answers. The first failing code, or 0;
/// `sessionLost` tells whether the connection went.
int32_t DownloadAll(TolvanPOP3& pop3, const SaveDir& dir, ProgressSink& sink, bool deleteSaved, bool& sessionLost)
{
    Ref<Messages> messages = pop3.Messages();
    const int32_t count = messages->Count();
    int32_t firstFailure = pop3_result::Ok;
    int failed = 0;
    const auto note = [&](int32_t result) {
        if (firstFailure == pop3_result::Ok)
            firstFailure = result;
    };
    for (int number = 1; number <= count; ++number) {
        Ref<Message> message = messages->Item(Variant(1));
        messages->Remove(Variant(1));
        const std::string label = "message " + std::to_string(number) + ": ";
        if (int32_t result = message->GetMessage(kKeepTextOnDisk); result != pop3_result::Ok) {
            Complain(label + "retrieval failed " + Why(result, pop3) + "; left at the server");
            note(result);
            ++failed;
            // The component either read on to the message's end or closed the connection.
            if (pop3.KeepAlive() != pop3_result::Ok) {
                sessionLost = true;
                Complain("the session with the server is lost" + NotRetrieved(number + 1, count));
                failed += count - number;
                break;
            }
            continue;
        }
        if (int32_t result = SaveMessage(*message, number, dir, sink); result != file_result::Ok) {
            note(result);
            ++failed;
            if (deleteSaved)
                Complain(label + "not every file was saved: left at the server");
            continue;
        }
        if (!deleteSaved)
            continue;
        if (int32_t result = message->DeleteAtServer(); result != pop3_result::Ok) {
            Complain(label + "saved, but deleting it at the server failed " + Why(result, pop3));
            note(result);
        }
    }
    if (failed > 0)
        Complain(std::to_string(failed) + " of " + std::to_string(count) +
                 (count == 1 ? " message" : " messages") + " not saved whole; they stay at the server");
    return firstFailure;
}

/// Logs in, lists or downloads, logs off; the exit status.
int Fetch(const Options& o, const std::string& password, const std::optional<SaveDir>& dir, const std::string& cache)
{
    // The messages and their temporary files go before the caller's cache does.
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
    if (result != pop3_result::Ok) {
        Complain("log-in to " + Printable(o.server) + " port " + std::to_string(o.port.value_or(110)) + " failed " + Why(result, *pop3, kLogInMeanings));
        return result;
    }
    const int32_t count = pop3->GetMessageCount();
    auto sink = std::make_shared<ProgressSink>(Progress::StyleFor(stderr, o.quiet), count);
    pop3->Advise(sink);

    // The header pass makes the message objects that the download then fills.
    result = pop3->GetMessageHeader();
    sink->finish("reading headers");
    if (result != pop3_result::Ok)
        Complain("reading the message headers failed " + Why(result, *pop3) + "; nothing was downloaded");
    if (o.list || !dir)
        PrintList(*pop3);
    bool sessionLost = false;
    if (result == pop3_result::Ok && dir) {
        result = DownloadAll(*pop3, *dir, *sink, o.del, sessionLost);
        sink->finishRetrieving();
    }
    const int32_t logoff = pop3->Disconnect();
    if (logoff != pop3_result::Ok && !sessionLost)
        Complain("log-off failed " + Why(logoff, *pop3) +
                 (o.del ? "; the server may keep the messages marked for deletion" : ""));
    return result != pop3_result::Ok ? result : logoff;
}

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
    if (std::string why = ReadPassword(o, password); !why.empty())
        return UsageError(why);
    std::optional<SaveDir> dir;
    if (!o.saveDir.empty()) {
        dir.emplace(o.saveDir);
        if (!dir->ok())
            return UsageError("cannot open the directory " + Printable(o.saveDir) + ": " + std::strerror(errno));
    }
    std::optional<PrivateCache> privateCache;
    std::string cache = o.cacheDir;
    if (cache.empty()) {
        privateCache.emplace();
        if (!privateCache->ok()) {
            Complain(std::string("cannot create a private cache directory: ") + std::strerror(errno));
            return pop3_result::TempFileFailed;  // as a retrieval whose temporary file failed
        }
        cache = privateCache->path();
    } else if (cache.back() != '/') {
        cache += '/';
    }
    try {
        return Fetch(o, password, dir, cache);
    } catch (const std::exception& e) {
        // Whatever escapes still ends with a line and without leaving the cache behind.
        Complain(std::string("stopped: ") + Printable(e.what()));
        return kUndecodable;
    }
}

} // namespace tolmail::cli

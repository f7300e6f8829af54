// Fuzz target: a POP3 server's byte stream, cut into writes where the input says,
// served over loopback to a TolvanPOP3 that logs in, retrieves messages (deleting them
// or not), saves every attachment and logs off. Besides crashes, leaks and hangs it
// stops on a broken promise: a message reported as retrieved, or deleted at the server,
// although the client cannot have seen the end of it; a file left in the cache
// directory after everything was released.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "stream_peer.h"
#include "tolmail/Attachment.h"
#include "tolmail/Attachments.h"
#include "tolmail/Message.h"
#include "tolmail/Messages.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/error.h"

using namespace tolmail;
using fuzzpeer::Violation;

namespace {

/// One peer and two private directories (the component's cache, the saved files) per process.
struct Setup {
    Setup()
    {
        std::filesystem::create_directory(cache);
        std::filesystem::create_directory(saved);
    }
    fuzzpeer::Listener listener;
    fuzzpeer::ScratchDirectory root{"tolmail-fuzz-pop3"};
    std::string cache = root / "cache/";
    std::string saved = root / "saved/";
};

/// Lines "." (the end of a multi-line reply) in the first `served` bytes of the stream.
/// Whatever the client takes for a line end, it cannot have seen more ends than these.
size_t Terminators(std::string_view stream, size_t served)
{
    const std::string_view text = stream.substr(0, served);
    size_t count = 0;
    for (size_t at : fuzzpeer::LineStarts(text)) {
        if (text.substr(at, 1) == "." && (at + 1 == text.size() || text[at + 1] == '\r' || text[at + 1] == '\n'))
            ++count;
    }
    return count;
}

/// The options byte: how the host drives the component.
struct Options {
    explicit Options(uint8_t bits)
        : headersFirst((bits & 1) != 0), erase((bits & 2) != 0), maxMem(kMaxMem[(bits >> 2) & 3]),
          html((bits & 16) != 0), onDisk((bits & 32) != 0),
          keepRaw((bits & 64) != 0)
    {
    }
    static constexpr int32_t kMaxMem[4] = {16384, 0, 64, 1 << 20};
    bool headersFirst;  // GetMessageHeader, then GetMessage on each; else GetMessages
    bool erase;         // the delete bit of GetMessage(s)
    int32_t maxMem;
    bool html;
    bool onDisk;        // GetMessage's "keep the message text on disk" bit
    bool keepRaw;       // GetMessage's "keep the message as it arrived" bit
};

/// The copy of the message as it arrived exists exactly when the message was read whole.
void CheckRawCopy(const Message& message, bool asked, bool whole)
{
    const std::string raw = message.RawMsgFilename();
    if (!asked || raw.empty()) {
        if (asked && whole)
            Violation("no copy of a message that was read whole");
        return;
    }
    if (std::filesystem::exists(raw) != whole)
        Violation(whole ? "the copy of a message read whole is missing" : "a copy of a message cut short stayed");
}

void SaveAll(const Ref<Messages>& messages, const std::string& directory)
{
    int n = 0;
    for (const Ref<Message>& message : messages->NewEnum()) {
        for (const Ref<Attachment>& part : message->Attachments()->NewEnum()) {
            const std::string target = directory + std::to_string(++n);
            try {
                (void)part->Save(target);
            } catch (const Error&) {
                // an invalid base64 body held in memory: the host's automation error
            }
            std::filesystem::remove(target);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Setup setup;
    fuzzpeer::Input input;
    if (!input.parse(data, size))
        return 0;
    const Options options(input.options);
    fuzzpeer::Session peer(setup.listener, input);

    size_t headers = 0;   // headers read to their end before any message
    size_t endsUsed = 0;  // multi-line replies the client has claimed to read to their end
    const auto claim = [&](size_t replies, const char* what) {
        endsUsed += replies;
        if (Terminators(peer.stream(), peer.served()) < endsUsed)
            Violation(what);
    };
    {
        Ref<TolvanPOP3> pop3 = TolvanPOP3::Create();
        pop3->Host("127.0.0.1");
        pop3->Port(static_cast<int16_t>(setup.listener.port()));
        pop3->Login("fuzz");
        pop3->Password("secret");
        pop3->TimeOut(5);
        pop3->CachedDirectory(setup.cache);
        pop3->MaxMemAttachment(options.maxMem);
        pop3->AlternativeType(options.html ? "HTML" : "PLAIN");
        const uint8_t param = (options.erase ? 2 : 0) | (options.onDisk ? 4 : 0) | (options.keepRaw ? 8 : 0);
        if (pop3->Connect() == 0) {
            if (options.headersFirst) {
                (void)pop3->GetMessageHeader();
                for (const Ref<Message>& message : pop3->Messages()->NewEnum())
                    headers += message->MessageStatus() == 2;
                claim(headers, "a header reported as read without its end");
                for (const Ref<Message>& message : pop3->Messages()->NewEnum()) {
                    const bool whole = message->GetMessage(param) == 0;
                    if (whole)
                        claim(1, "GetMessage returned 0 for a message whose end was never served");
                    CheckRawCopy(*message, options.keepRaw, whole);
                }
            } else {
                const size_t count = static_cast<size_t>(pop3->GetMessageCount());
                const bool whole = pop3->GetMessages(param) == 0;
                if (whole)
                    claim(count, "GetMessages returned 0 without the end of every message served");
                if (whole)
                    for (const Ref<Message>& message : pop3->Messages()->NewEnum())
                        CheckRawCopy(*message, options.keepRaw, true);
            }
            SaveAll(pop3->Messages(), setup.saved);
            (void)pop3->Disconnect();
        }
    }  // the component, its messages and its socket go here
    peer.finish();

    // Every "DELE" follows a message the client believed complete: by the time it was sent,
    // one more end of a multi-line reply must have been served than the DELEs before it
    // (plus the headers read to their end, counted the same way).
    size_t deletes = headers;
    for (const fuzzpeer::Heard& heard : peer.heard()) {
        if (fuzzpeer::StartsNoCase(heard.line, "DELE") && Terminators(peer.stream(), heard.served) < ++deletes)
            Violation("DELE sent for a message whose end was never served");
    }
    if (!std::filesystem::is_empty(setup.cache))
        Violation("a file stayed in the cache directory after the component was released");
    return 0;
}

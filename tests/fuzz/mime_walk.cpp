// Fuzz target: a message body, split into reads of a size the input chooses, walked as
// a multipart body (or read as a single part), finished, and every part saved.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/library_access.h"
#include "pop3/dot_reader.h"
#include "pop3/message_impl.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/error.h"

using namespace tolmail;

namespace {

/// One component and one cache directory for the whole run.
struct Setup {
    Setup()
    {
        std::string base = std::filesystem::temp_directory_path().string() + "/tolmail-fuzz-XXXXXX";
        if (!::mkdtemp(base.data()))
            std::abort();
        directory = base + "/";
        pop3->CachedDirectory(directory);
    }
    ~Setup() { std::filesystem::remove_all(directory); }
    Ref<TolvanPOP3> pop3 = TolvanPOP3::Create();
    std::string directory;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Setup setup;
    if (size < 3)
        return 0;
    const size_t readSize = 1 + data[0];            // 1 to 256 bytes per read
    const bool multipart = (data[1] & 1) == 0;
    setup.pop3->MaxMemAttachment(data[2] * 4);       // small enough for parts to reach files
    setup.pop3->AlternativeType((data[1] & 2) ? "HTML" : "PLAIN");
    const std::string body(reinterpret_cast<const char*>(data) + 3, size - 3);

    Ref<Message> message = pop3::AddMessage(*setup.pop3->Messages(), 1, setup.pop3);
    MessageImpl& impl = LibraryAccess::impl(*message);
    impl.ContentType = multipart ? "multipart" : "text";
    impl.ContentSubType = (data[1] & 4) ? "alternative" : ((data[1] & 8) ? "digest" : "mixed");
    impl.InternationalText = (data[1] & 16) != 0;

    auto offset = std::make_shared<size_t>(0);
    pop3::DotReader reader([&body, offset, readSize](std::string& piece) {
        if (*offset >= body.size())
            return false;
        piece = body.substr(*offset, readSize);
        *offset += piece.size();
        return true;
    });
    if (multipart) {
        std::string buffer;
        impl.WalkMultipart("b", buffer, reader);
    } else {
        impl.ReadSinglePart(reader);
        if (impl.InternationalText)
            (void)impl.ConvertSinglePartText(0, false);
    }
    impl.FinishParts();

    int n = 0;
    for (const auto& part : message->Attachments()->NewEnum()) {
        const std::string target = setup.directory + "saved" + std::to_string(++n);
        try {
            (void)part->Save(target);
        } catch (const Error&) {
            // an invalid base64 body held in memory: the host's automation error
        }
        std::filesystem::remove(target);
    }
    setup.pop3->Messages()->DeleteAllMessage();
    return 0;
}

// The files of one downloaded message in the save directory: its text, its
// attachments under the names the mail gives, and the message as it arrived.
#include "message_files.h"


#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "exit_status.h"
#include "outcome.h"
#include "system.h"
#include "terminal_text.h"
#include "tolmail/Attachments.h"
#include "tolmail/file_codes.h"

namespace tolmail::cli {

namespace {

// Attachment.Save's code for a body that does not decode (on the file road it is a
// result; on the in-memory road it arrives as an exception).
constexpr int32_t kUndecodable = file_result::OtherFailure;

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

/// True for the unnamed text part that became the message's text: the text is the
/// part's body as it came (base64 stays so) or decoded (quoted-printable). The decoded
/// content is what Save writes, so a scratch copy in the cache is compared.
bool IsMessageText(Attachment& part, const std::string& text, const std::string& cache)
{
    if (!part.Filename().empty() || part.ContentType() != "TEXT" || !part.TempFilename().empty())
        return false;
    if (part.AttachmentBody() == text)
        return true;
    const std::string scratch = cache + "text-check-" + std::to_string(sys::ProcessId());
    std::filesystem::remove(scratch);
    bool same = false;
    try {
        if (part.Save(scratch) == file_result::Ok) {
            std::ifstream in(scratch, std::ios::binary);
            const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            same = !in.bad() && saved == text;
        }
    } catch (const std::exception&) {
        // A part that does not decode is no text that decoded; saving it says why.
    }
    std::filesystem::remove(scratch);
    return same;
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
                          const std::string name = std::filesystem::path(path).filename().string();
                          return file.empty() ? dir.writeNew(name, message.MessageText()) : dir.adopt(name, file);
                      },
                      chosen);
}

/// Keeps the whole message as it arrived: its file moves from the cache into DIR.
int32_t SaveWhole(const Message& message, int number, const SaveDir& dir, std::string& chosen)
{
    const std::string file = message.RawMsgFilename();
    return dir.create("message-" + std::to_string(number) + ".eml",
                      [&](const std::string& path) {
                          return dir.adopt(std::filesystem::path(path).filename().string(), file);
                      },
                      chosen);
}

/// The size of a file just written in DIR, in bytes; "?" when it cannot be looked at.
std::string BytesOf(const SaveDir& dir, const std::string& name)
{
    sys::FileFacts facts;
    return sys::DescribePath(dir.pathOf(name), facts, false) ? std::to_string(facts.size) : "?";
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
                                sys::FileFacts facts;
                                return sys::DescribePath(path, facts, false) ? file_result::Exists
                                                                             : attachment.Save(path);
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
    return result;
}

} // namespace

int SaveMessageFiles(Message& message, int number, const SaveDir& dir, bool whole, const std::string& cache,
                     const std::function<void(const std::string& name)>& saving)
{
    int firstFailure = EX_OK;
    const std::string label = "message " + std::to_string(number) + ": ";
    std::string chosen;
    const std::optional<std::string> text = TextToCompare(message);
    if (int32_t result = SaveText(message, number, dir, chosen); result != file_result::Ok)
        firstFailure = Report(label + "writing its text", Source::FileWrite, result);
    if (whole) {
        if (int32_t result = SaveWhole(message, number, dir, chosen); result != file_result::Ok) {
            const int status = Report(label + "keeping it whole", Source::FileWrite, result);
            if (firstFailure == EX_OK)
                firstFailure = status;
        } else {
            std::printf("message %d: saved %s (%s bytes)\n", number, Printable(chosen).c_str(),
                        BytesOf(dir, chosen).c_str());
        }
    }
    int part = 0;
    for (const auto& attachment : message.Attachments()->NewEnum()) {
        ++part;
        if (text && IsMessageText(*attachment, *text, cache))
            continue;  // already written as the message's text
        const std::string fallback =
            "message-" + std::to_string(number) + "-part-" + std::to_string(part) + ExtensionOf(*attachment);
        const std::string name = SafeFileName(attachment->Filename(), fallback);
        saving(name);
        std::string why;
        if (int32_t result = SaveAttachment(*attachment, name, dir, chosen, why); result != file_result::Ok) {
            const int status = Report(label + "saving '" + Printable(name) + "'", Source::FileWrite, result, why);
            if (firstFailure == EX_OK)
                firstFailure = status;
            continue;
        }
        std::printf("message %d: saved %s (%s bytes)\n", number, Printable(chosen).c_str(),
                    BytesOf(dir, chosen).c_str());
    }
    return firstFailure;
}

} // namespace tolmail::cli

// The keyed collections and records of the retrieval object model.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/library_caller.h"
#include "tolmail/Messages.h"
#include "tolmail/TolvanPOP3.h"

namespace tolmail {
namespace {

const detail::Caller kLibrary = detail::libraryCaller();

Ref<Message> AddBare(Messages& messages, int32_t number, const std::string& key = {},
                     const std::string& fullMsgFilename = {})
{
    return messages.AddMessage(number, "", "", "", "", "", fullMsgFilename, "", 0, "", "", "", "", "", "",
                               'S' + std::to_string(number), WeakRef<TolvanPOP3>{}, key, kLibrary);
}

int32_t ErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const Error& error) {
        return error.code();
    }
    return 0;
}

TEST(Collections, KeysIgnoreCaseAndDuplicatesInsertNothing)
{
    auto recipients = Recipients::Create(kLibrary);
    recipients->Add("a@example.org", "A", 1);
    recipients->Add("a@example.org", "A", 1);  // no key: the same address twice is fine
    recipients->Add("b@example.org", "B", 2, "Bee");
    EXPECT_EQ(recipients->Item(Variant("bEE"))->Address(), "b@example.org");
    EXPECT_EQ(ErrorOf([&] { recipients->Add("c@example.org", "C", 2, "BEE"); }), errc::DuplicateKey);
    EXPECT_EQ(recipients->Count(), 3);
    for (const Variant& bad : {Variant("missing"), Variant(int32_t{0}), Variant(int32_t{4})})
        EXPECT_EQ(ErrorOf([&] { recipients->Item(bad); }), errc::InvalidIndex);

    auto messages = Messages::Create(kLibrary);
    AddBare(*messages, 1, "First");
    EXPECT_EQ(ErrorOf([&] { AddBare(*messages, 2, "FIRST"); }), errc::DuplicateKey);
    EXPECT_EQ(messages->Count(), 1);
}

TEST(Collections, RemoveShiftsAndEnumeratorsKeepOrder)
{
    auto messages = Messages::Create(kLibrary);
    for (int32_t n = 1; n <= 4; ++n)
        AddBare(*messages, n);
    messages->Remove(Variant(int32_t{1}));
    EXPECT_EQ(messages->Item(Variant(int32_t{1}))->Subject(), "S2");
    messages->Delete(Variant(int32_t{2}));
    auto enumerator = messages->NewEnum();
    EXPECT_EQ(enumerator.Next()->Subject(), "S2");
    EXPECT_EQ(enumerator.Next()->Subject(), "S4");
    EXPECT_EQ(enumerator.Next(), nullptr);
    messages->DeleteAllMessage();
    EXPECT_EQ(messages->Count(), 0);
}

TEST(Collections, ComponentOnlyMembersRefuseForeignCallers)
{
    const detail::Caller foreign{};
    auto attachment = Attachments::Create(kLibrary)->Add("d", "base64", "f.bin", "n", "4", "APPLICATION",
                                                         "OCTET-STREAM", "", "", WeakRef<TolvanPOP3>{});
    EXPECT_EQ(ErrorOf([&] { attachment->AttachmentBody("forged", foreign); }), errc::AccessDenied);
    EXPECT_EQ(ErrorOf([&] { Messages::Create(foreign); }), errc::AccessDenied);
    EXPECT_EQ(ErrorOf([&] { AddBare(*Messages::Create(kLibrary), 1)->impl(foreign); }), errc::AccessDenied);
    EXPECT_EQ(ErrorOf([&] { TolvanPOP3::Create()->SocketOf(foreign); }), errc::AccessDenied);
    attachment->Name("renamed");  // the one field a host may change
    EXPECT_EQ(attachment->Name() + attachment->Filename() + attachment->ContentSubType(),
              "renamedf.binOCTET-STREAM");
}

TEST(Collections, TemporaryFilesGoWithTheLastReference)
{
    auto directory = std::filesystem::temp_directory_path() / ("tolmail-model-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    const std::string prefix = directory.string() + "/";
    for (const char* name : {"part.TMA", "text.TMB", "bystander"})
        std::ofstream(prefix + name) << "data";

    auto attachments = Attachments::Create(kLibrary);
    auto held = attachments->Add("", "", "", "", "", "", "", "part.TMA", prefix, WeakRef<TolvanPOP3>{});
    attachments->Add("", "", "", "", "", "", "", "", prefix, WeakRef<TolvanPOP3>{});  // in memory: no file
    attachments->Remove(Variant(int32_t{1}));
    EXPECT_TRUE(std::filesystem::exists(prefix + "part.TMA")) << "the host still holds the attachment";
    held.reset();
    EXPECT_FALSE(std::filesystem::exists(prefix + "part.TMA"));
    attachments.reset();

    auto messages = Messages::Create(kLibrary);
    AddBare(*messages, 1, "", prefix + "text.TMB");
    messages->DeleteAllMessage();
    EXPECT_FALSE(std::filesystem::exists(prefix + "text.TMB"));
    EXPECT_TRUE(std::filesystem::exists(prefix + "bystander"));
    std::filesystem::remove_all(directory);
}

} // namespace
} // namespace tolmail

// The keyed collections and records of the retrieval object model.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>

#include "platform/library_caller.h"
#include "tolmail/Messages.h"
#include "tolmail/TolvanPOP3.h"

namespace tolmail {
namespace {

const detail::Caller kLibrary = detail::libraryCaller();

Ref<Message> AddBare(Messages& messages, int32_t number, const std::string& key = {})
{
    return messages.AddMessage(number, "", "", "", "", "", "", "", 0, "", "", "", "", "", "", "Subject " +
                               std::to_string(number), WeakRef<TolvanPOP3>{}, key, kLibrary);
}

TEST(Collections, KeysIgnoreCaseAndDuplicatesInsertNothing)
{
    auto recipients = Recipients::Create(kLibrary);
    recipients->Add("a@example.org", "A", 1);
    recipients->Add("a@example.org", "A", 1);  // no key: the same address twice is fine
    recipients->Add("b@example.org", "B", 2, "Bee");
    EXPECT_EQ(recipients->Count(), 3);
    EXPECT_EQ(recipients->Item(Variant("bEE"))->Address(), "b@example.org");

    try {
        recipients->Add("c@example.org", "C", 2, "BEE");
        FAIL() << "a duplicate key was accepted";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), errc::DuplicateKey);
    }
    EXPECT_EQ(recipients->Count(), 3);
    EXPECT_THROW(recipients->Item(Variant("missing")), Error);
    EXPECT_THROW(recipients->Item(Variant(int32_t{0})), Error);
    EXPECT_THROW(recipients->Item(Variant(int32_t{4})), Error);
}

TEST(Collections, RemoveShiftsAndEnumeratorsKeepOrder)
{
    auto messages = Messages::Create(kLibrary);
    for (int32_t n = 1; n <= 4; ++n)
        AddBare(*messages, n);
    messages->Remove(Variant(int32_t{1}));
    EXPECT_EQ(messages->Item(Variant(int32_t{1}))->Subject(), "Subject 2");
    messages->Delete(Variant(int32_t{2}));  // Delete is Remove: the server is not involved
    std::vector<std::string> order;
    for (const auto& message : messages->NewEnum())
        order.push_back(message->Subject());
    EXPECT_EQ(order, (std::vector<std::string>{"Subject 2", "Subject 4"}));

    auto enumerator = messages->NewEnum();
    EXPECT_EQ(enumerator.Next()->Subject(), "Subject 2");
    EXPECT_EQ(enumerator.Next()->Subject(), "Subject 4");
    EXPECT_EQ(enumerator.Next(), nullptr);

    messages->DeleteAllMessage();
    EXPECT_EQ(messages->Count(), 0);
    messages->DeleteAllMessage();
    EXPECT_EQ(messages->Count(), 0);
}

TEST(Collections, AddMessageFillsFieldsAndGivesEmptyCollections)
{
    auto messages = Messages::Create(kLibrary);
    auto message = messages->AddMessage(7, "charset=utf-8", "text", "Mon, 1 Jan 2024", "Ann", "ann@example.org", "",
                                        "H: v\r\n", 2, "<id@x>", "body", "3", "Rob", "rob@example.org", "120", "Hi",
                                        WeakRef<TolvanPOP3>{}, "first", kLibrary);
    EXPECT_EQ(message->CharSet(), "charset=utf-8");
    EXPECT_EQ(message->FromName(), "Ann");
    EXPECT_EQ(message->MessageStatus(), 2);
    EXPECT_EQ(message->ReplyToAddress(), "rob@example.org");
    EXPECT_EQ(message->Size(), "120");
    EXPECT_EQ(message->Recipients()->Count(), 0);
    EXPECT_EQ(message->Attachments()->Count(), 0);
    EXPECT_EQ(messages->Item(Variant("FIRST")), message);
    EXPECT_THROW(AddBare(*messages, 8, "First"), Error);
    EXPECT_EQ(messages->Count(), 1);
}

TEST(Collections, ComponentOnlyMembersRefuseForeignCallers)
{
    const detail::Caller foreign{};
    auto attachments = Attachments::Create(kLibrary);
    auto attachment = attachments->Add("d", "base64", "f.bin", "n", "4", "APPLICATION", "OCTET-STREAM", "", "",
                                       WeakRef<TolvanPOP3>{});
    try {
        attachment->AttachmentBody("forged", foreign);
        FAIL() << "a foreign caller set a read-only field";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), errc::AccessDenied);
    }
    EXPECT_THROW(Messages::Create(foreign), Error);
    EXPECT_THROW(Recipients::Create(foreign), Error);
    EXPECT_THROW(AddBare(*Messages::Create(kLibrary), 1)->impl(foreign), Error);
    EXPECT_THROW(TolvanPOP3::Create()->SocketOf(foreign), Error);

    attachment->Name("renamed");  // the one field a host may change
    EXPECT_EQ(attachment->Name(), "renamed");
    EXPECT_EQ(attachment->Filename(), "f.bin");
    EXPECT_EQ(attachment->Encoding(), "base64");
    EXPECT_EQ(attachment->ContentSubType(), "OCTET-STREAM");
}

TEST(Collections, AttachmentDeletesItsFileWhenTheLastReferenceGoes)
{
    auto directory = std::filesystem::temp_directory_path() / ("tolmail-model-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    const std::string prefix = directory.string() + "/";
    std::ofstream(prefix + "kept.TMA") << "data";
    std::ofstream(prefix + "bystander") << "data";

    auto attachments = Attachments::Create(kLibrary);
    Ref<Attachment> held = attachments->Add("", "", "", "", "", "", "", "kept.TMA", prefix, WeakRef<TolvanPOP3>{});
    attachments->Add("", "", "", "", "", "", "", "", prefix, WeakRef<TolvanPOP3>{});  // in memory: no file
    attachments->Remove(Variant(int32_t{1}));
    EXPECT_TRUE(std::filesystem::exists(prefix + "kept.TMA")) << "the host still holds the attachment";
    held.reset();
    EXPECT_FALSE(std::filesystem::exists(prefix + "kept.TMA"));
    attachments.reset();
    EXPECT_TRUE(std::filesystem::exists(prefix + "bystander"));
    std::filesystem::remove_all(directory);
}

} // namespace
} // namespace tolmail

// Messages with non-ASCII subjects, display names, attachment names and texts composed by
// Python's email package, read back from Dovecot in the international reading: the same
// Unicode strings as Python's own parse of them.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "body_fixture.h"
#include "support/servers.h"
#include "tolmail/Recipient.h"
#include "tolmail/Recipients.h"

namespace tolmail::testing {
namespace {

std::string Unhex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

/// The values of an .expect file (or of a read message) by key, in order.
using Values = std::multimap<std::string, std::string>;

Values ReadExpect(const std::string& path)
{
    Values values;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const size_t tab = line.find('\t');
        values.emplace(line.substr(0, tab), Unhex(line.substr(tab + 1)));
    }
    return values;
}

std::string WithLf(std::string text)
{
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 1);
    return text;
}

Values ValuesOf(Message& message)
{
    Values values{{"S", message.Subject()}, {"F", message.FromName()}, {"X", WithLf(message.MessageText())}};
    for (const auto& recipient : message.Recipients()->NewEnum())
        values.emplace("R", recipient->Name());
    for (const auto& part : message.Attachments()->NewEnum()) {
        if (!part->Filename().empty())
            values.emplace("A", part->Filename());
    }
    return values;
}

class DovecotInternational : public BodyFixture {};

TEST_F(DovecotInternational, NamesAndTextsMatchWhatPythonReads)
{
    TOLMAIL_NEED_POP3_SERVER();
    const std::string cases = dir_ + "cases";
    std::filesystem::create_directory(cases);
    const std::string script = (std::filesystem::path(TOLMAIL_TESTS_DIR "/pop3") / "international_cases.py").string();
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + script + "' '" + cases + "'").c_str()), 0);

    ClearMaildir("mimetest");
    std::map<std::string, Values> want;  // by Message-ID
    int number = 0;
    for (const auto& entry : std::filesystem::directory_iterator(cases)) {
        if (entry.path().extension() != ".eml")
            continue;
        std::string raw;
        ASSERT_EQ(codec::ReadWholeFile(entry.path().string(), raw), 0);
        ASSERT_TRUE(DeliverToMaildir("mimetest", raw));
        const std::string id = raw.substr(raw.find('<'), raw.find('>') - raw.find('<') + 1);
        want[id] = ReadExpect(cases + "/" + entry.path().stem().string() + ".expect");
        ++number;
    }
    ASSERT_GT(number, 0);

    const Pop3Server server = Pop3FromEnv();
    pop3_->Host(server.host);
    pop3_->Port(server.port);
    pop3_->Login("mimetest");
    pop3_->Password(server.password);
    pop3_->InternationalText(true);
    ASSERT_EQ(pop3_->Connect(), 0);
    ASSERT_EQ(pop3_->GetMessages(0), 0);
    EXPECT_EQ(pop3_->Disconnect(), 0);
    ClearMaildir("mimetest");

    auto messages = pop3_->Messages();
    ASSERT_EQ(messages->Count(), number);
    for (const auto& message : messages->NewEnum()) {
        ASSERT_TRUE(want.count(message->MessageId())) << message->MessageId();
        EXPECT_EQ(ValuesOf(*message), want.at(message->MessageId())) << message->MessageId();
    }
}

} // namespace
} // namespace tolmail::testing

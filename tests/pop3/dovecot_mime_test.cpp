// Messages composed by Python's email package, retrieved from Dovecot: the message
// text, every part's fields and the bytes Save writes against Python's own parse.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "body_fixture.h"
#include "support/servers.h"

namespace tolmail::testing {
namespace {

struct PartWant {
    std::vector<std::string> fields;  // type, subtype, encoding, filename, description, size
    std::string body;
    std::string decoded;
};

struct CaseWant {
    std::string text;
    std::string htmlText;  // with AlternativeType HTML
    std::vector<PartWant> parts;
};

std::string Unhex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, '\t');)
        fields.push_back(field);
    if (!line.empty() && line.back() == '\t')
        fields.emplace_back();
    return fields;
}

CaseWant ReadExpect(const std::string& path)
{
    CaseWant want;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f = Fields(line);
        if (f[0] == "T")
            want.text = Unhex(f[1]);
        else if (f[0] == "H")
            want.htmlText = Unhex(f[1]);
        else
            want.parts.push_back({{f.begin() + 1, f.begin() + 7}, Unhex(f[7]), Unhex(f[8])});
    }
    return want;
}

class DovecotMime : public BodyFixture {
protected:
    void Retrieve()
    {
        const Pop3Server server = Pop3FromEnv();
        pop3_->Host(server.host);
        pop3_->Port(server.port);
        pop3_->Login("mimetest");
        pop3_->Password(server.password);
        ASSERT_EQ(pop3_->Connect(), 0);
        ASSERT_EQ(pop3_->GetMessages(0), 0);
        EXPECT_EQ(pop3_->Disconnect(), 0);
    }

    void Compare(const std::map<std::string, CaseWant>& cases, bool html)
    {
        auto messages = pop3_->Messages();
        ASSERT_EQ(messages->Count(), static_cast<int32_t>(cases.size()));
        for (const auto& message : messages->NewEnum()) {
            const std::string name = message->Subject();
            ASSERT_TRUE(cases.count(name)) << name;
            const CaseWant& want = cases.at(name);
            EXPECT_EQ(message->MessageText(), html ? want.htmlText : want.text) << name;
            auto parts = message->Attachments();
            ASSERT_EQ(parts->Count(), static_cast<int32_t>(want.parts.size())) << name;
            for (size_t i = 0; i < want.parts.size(); ++i) {
                auto part = parts->Item(Variant(static_cast<int32_t>(i + 1)));
                const PartWant& p = want.parts[i];
                const std::string where = name + " part " + std::to_string(i + 1);
                EXPECT_EQ((std::vector<std::string>{part->ContentType(), part->ContentSubType(), part->Encoding(),
                                                    part->Filename(), part->Description(), part->Size()}),
                          p.fields)
                    << where;
                EXPECT_EQ(BodyOf(part), p.body) << where;
                const bool inFile = message->ContentType() == "multipart" ? p.body.size() >= 16384
                                                                          : p.body.size() > 16384;
                EXPECT_EQ(!part->TempFilename().empty(), inFile) << where;
                const std::string target = dir_ + "saved-" + std::to_string(++saved_);
                ASSERT_EQ(part->Save(target), 0) << where;
                std::string bytes;
                (void)codec::ReadWholeFile(target, bytes);
                EXPECT_EQ(bytes, p.decoded) << where;
            }
        }
    }

    int saved_ = 0;
};

TEST_F(DovecotMime, PartsMatchWhatPythonFinds)
{
    TOLMAIL_NEED_POP3_SERVER();
    const std::string cases = dir_ + "cases";
    std::filesystem::create_directory(cases);
    const std::string script = (std::filesystem::path(TOLMAIL_TESTS_DIR "/pop3") / "mime_cases.py").string();
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + script + "' '" + cases + "'").c_str()), 0);

    ClearMaildir("mimetest");
    std::map<std::string, CaseWant> want;
    for (const auto& entry : std::filesystem::directory_iterator(cases)) {
        if (entry.path().extension() != ".eml")
            continue;
        std::string raw;
        ASSERT_EQ(codec::ReadWholeFile(entry.path().string(), raw), 0);
        ASSERT_TRUE(DeliverToMaildir("mimetest", raw));
        const std::string name = entry.path().stem().string();
        want[name] = ReadExpect(cases + "/" + name + ".expect");
    }

    Retrieve();
    Compare(want, false);
    pop3_->AlternativeType("HTML");
    Retrieve();
    Compare(want, true);
    ClearMaildir("mimetest");
}

} // namespace
} // namespace tolmail::testing

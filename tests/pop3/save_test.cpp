// Attachment.Save on both roads: result codes, the exact event sequence, and pieces
// whose lines or escapes straddle the piece boundary.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <stdexcept>
#include <tuple>

#include "body_fixture.h"
#include "codec/base64.h"
#include "codec/quoted_printable.h"
#include "codec/uuencode.h"
#include "support/event_tables.h"

namespace tolmail::testing {
namespace {

using Event = std::tuple<std::string, int32_t, int32_t, int32_t>;

class Recorder : public TolvanPOP3Events {
public:
    void OnPOP3Event(const std::string& text, int32_t task, int32_t param1, int32_t param2) override
    {
        EXPECT_TRUE(eventtable::InTable(pop3_event::All, task, text)) << task << " " << text;
        events.emplace_back(text, task, param1, param2);
    }
    std::vector<Event> events;
};

std::string Bytes(size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::string data(n, '\0');
    for (char& c : data)
        c = static_cast<char>(random() & 0xFF);
    return data;
}

class Save : public BodyFixture {
protected:
    void SetUp() override
    {
        BodyFixture::SetUp();
        pop3_->Advise(recorder_);
    }

    /// An attachment whose encoded body lies in a temporary file (or, with no file
    /// name, in memory).
    Ref<Attachment> Make(const std::string& encoding, const std::string& body, const std::string& temp = "1.TMA")
    {
        const auto caller = detail::libraryCaller();
        auto part = Attachments::Create(caller)->Add("", encoding, "", "", "", "", "", temp, dir_, pop3_);
        if (temp.empty())
            part->AttachmentBody(body, caller);
        else
            std::ofstream(dir_ + temp, std::ios::binary) << body;
        return part;
    }

    static std::string Read(const std::string& path)
    {
        std::string content;
        (void)codec::ReadWholeFile(path, content);
        return content;
    }

    std::string Saved(const Ref<Attachment>& part, int32_t expect = 0)
    {
        const std::string target = dir_ + "out" + std::to_string(++saves_);
        EXPECT_EQ(part->Save(target), expect);
        return Read(target);
    }

    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
    int saves_ = 0;
};

TEST_F(Save, InMemoryBodyResultsAndNoEvents)
{
    auto part = Make("BASE64", "aGVsbG8=\r\n\r\n", "");  // a blank line after the data is not data
    EXPECT_EQ(part->Save(""), 1);
    EXPECT_EQ(part->Save(dir_ + "x"), 0);
    EXPECT_EQ(part->Save(dir_ + "x"), 1);
    EXPECT_EQ(Read(dir_ + "x"), "hello");
    EXPECT_TRUE(recorder_->events.empty());
    EXPECT_THROW(Make("base64", "a b!\r\n", "")->Save(dir_ + "y"), Error);
}

TEST_F(Save, TwoBase64PiecesRaiseTheExactEvents)
{
    const std::string data = Bytes(2 * 100 * 57, 1);
    auto part = Make("BASE64", codec::Base64Encode(data));
    ASSERT_EQ(codec::Base64Encode(data).size(), 15600u);
    EXPECT_EQ(Saved(part), data);
    const std::string text = "ATTACHMENT: Decoding 1.TMA ...";
    EXPECT_EQ(recorder_->events, (std::vector<Event>{{text, 20, 15600, 15600},
                                                     {text, 20, 15600, 7800},
                                                     {"ATTACHMENT: Decoding Done", 21, 15600, 0}}));
}

TEST_F(Save, UnencodedAndEmptyFilesAreSinglePieces)
{
    const std::string body(7801, 'z');
    EXPECT_EQ(Saved(Make("7bit", body)), body);
    EXPECT_EQ(recorder_->events.size(), 2u);
    EXPECT_EQ(std::get<2>(recorder_->events[0]), 7801);
    EXPECT_EQ(std::get<3>(recorder_->events[0]), 7801);

    recorder_->events.clear();
    EXPECT_EQ(Saved(Make("base64", "", "2.TMA")), "");
    EXPECT_EQ(recorder_->events, (std::vector<Event>{{"ATTACHMENT: Decoding 2.TMA ...", 20, 0, 0},
                                                     {"ATTACHMENT: Decoding Done", 21, 0, 0}}));
}

TEST_F(Save, MissingSourceAndExistingTarget)
{
    auto part = Make("base64", "QQ==\r\n");
    std::filesystem::remove(dir_ + "1.TMA");
    EXPECT_EQ(part->Save(dir_ + "target"), 32);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "target"));

    auto other = Make("base64", "QQ==\r\n", "3.TMA");
    std::ofstream(dir_ + "taken") << "keep";
    EXPECT_EQ(other->Save(dir_ + "taken"), 1);
    EXPECT_EQ(Read(dir_ + "taken"), "keep");
    EXPECT_TRUE(recorder_->events.empty());
}

TEST_F(Save, AFailedSaveLeavesNoTargetBehind)
{
    const std::string good = codec::Base64Encode(Bytes(100 * 57, 3));  // exactly one piece
    struct Case {
        const char* name;
        std::string body, temp;
        bool throwOnSecondPiece;
        int32_t result;  // -1: the call throws
    };
    const Case cases[] = {
        {"bad character in the only piece", "QUJD\r\n*bad\r\n", "6.TMA", false, 64},
        {"bad character in the second piece", good + "*bad\r\n", "4.TMA", false, 64},
        {"handler throws between pieces", good + good, "5.TMA", true, -1},
        {"bad character held in memory", "QU*D\r\n", "", false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recorder_->events.clear();
        auto part = Make("BASE64", c.body, c.temp);
        struct Thrower : TolvanPOP3Events {
            int pieces = 0;
            void OnPOP3Event(const std::string&, int32_t task, int32_t, int32_t) override
            {
                if (task == 20 && ++pieces == 2)
                    throw std::runtime_error("host gave up");
            }
        };
        const uint32_t cookie = c.throwOnSecondPiece ? pop3_->Advise(std::make_shared<Thrower>()) : 0;
        const std::string target = dir_ + "failed-" + c.name;
        int32_t result = -1;
        try {
            result = part->Save(target);
        } catch (const std::exception&) {
        }
        if (cookie != 0)
            pop3_->Unadvise(cookie);
        EXPECT_EQ(result, c.result);
        EXPECT_FALSE(std::filesystem::exists(target));
        EXPECT_TRUE(recorder_->events.empty() || std::get<1>(recorder_->events.back()) == 20) << "no Done event";
    }
}

TEST_F(Save, EscapesStraddlingQuotedPrintablePiecesDecodeRight)
{
    const std::string data = Bytes(11000, 2);
    std::string encoded;
    for (size_t i = 0; i < data.size(); ++i) {
        static const char hex[] = "0123456789ABCDEF";
        const auto byte = static_cast<unsigned char>(data[i]);
        encoded += {'=', hex[byte >> 4], hex[byte & 15]};
        if (i % 25 == 24)
            encoded += "=\r\n";
    }
    for (size_t shift = 0; shift <= 80; ++shift) {
        const std::string lead(shift, 'a');
        ASSERT_EQ(Saved(Make("quoted-printable", lead + "=\r\n" + encoded, std::to_string(shift) + ".TMA")), lead + data)
            << "shift " << shift;
    }
}

TEST_F(Save, BlanksBeforeSoftBreaksAtAPieceEndAreKept)
{
    std::string lines;
    for (int i = 0; i < 5000; ++i)
        lines += i % 3 ? "ab c =\r\n" : "x \t=\r\n=\r\n";
    for (size_t shift = 0; shift <= 12; ++shift) {
        const std::string body = std::string(shift, 'a') + "=\r\n" + lines + "end\r\n";
        ASSERT_EQ(Saved(Make("QUOTED-PRINTABLE", body, std::to_string(shift) + ".TMA")), codec::QpDecode(body))
            << "shift " << shift;
    }
}

TEST_F(Save, UuencodedLinesStraddlingPiecesDecodeRight)
{
    const std::string data = Bytes(9000, 3);
    const std::string lines = codec::UuEncode(data) + "\r\nend\r\n";
    for (size_t nameLength = 1; nameLength <= 64; ++nameLength) {
        const std::string body = "begin 644 " + std::string(nameLength, 'n') + "\r\n" + lines;
        ASSERT_EQ(Saved(Make("x-uuencode", body, std::to_string(nameLength) + ".TMA")), data) << nameLength;
    }
    EXPECT_EQ(Saved(Make("X-UUENCODE", lines, "")), data);
}

} // namespace
} // namespace tolmail::testing

// The multipart walk and the finishing step over a buffer standing in for the socket:
// parts, nesting, memory limit, split reads, hostile shapes; and the single-part reader.
#include <gtest/gtest.h>

#include "body_fixture.h"

namespace tolmail::testing {
namespace {

const std::string kLargeBody(100, 'Q');  // above the limit the tests set (64)

const std::string kMixed =
    "This is the preamble.\r\n"
    "--outer\r\n"
    "Content-Type: text/plain; charset=us-ascii\r\n"
    "Content-Transfer-Encoding: 7bit\r\n"
    "\r\n"
    "Hello\r\n.dot line\r\n"
    "--outer\r\n"
    "Content-Type: multipart/alternative;\r\n boundary=\"inner\"\r\n"
    "\r\n"
    "--inner\r\n"
    "Content-Type: text/plain\r\n\r\nplain\r\n"
    "--inner\r\n"
    "Content-Type: text/html\r\n\r\n<b>html</b>\r\n"
    "--inner--\r\n"
    "\r\n--outer\r\n"
    "\r\n"
    "no header at all\r\n"
    "--outer  \r\n"
    "Content-Type: application/octet-stream; name=\"Report.doc\"\r\n"
    "Content-Description: the\r\n  report\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n" +
    kLargeBody +
    "\r\n"
    "--outerX is not a delimiter, nor is --outer here\r\n"
    "--outer--\r\n"
    "epilogue\r\n";

struct Expected {
    const char* type;
    const char* subType;
    const char* encoding;
    const char* filename;
    const char* description;
    std::string body;
    bool inFile;
};

const std::vector<Expected> kMixedParts = {
    {"TEXT", "PLAIN", "7BIT", "", "", "Hello\r\n.dot line", false},
    {"TEXT", "PLAIN", "", "", "", "plain", false},
    {"TEXT", "HTML", "", "", "", "<b>html</b>", false},
    {"TEXT", "PLAIN", "", "", "", "no header at all", false},
    {"APPLICATION", "OCTET-STREAM", "BASE64", "REPORT.DOC", "THE REPORT",
     kLargeBody + "\r\n--outerX is not a delimiter, nor is --outer here", true},
};

class MimeWalk : public BodyFixture {
protected:
    void SetUp() override
    {
        BodyFixture::SetUp();
        pop3_->MaxMemAttachment(64);
    }

    Ref<Message> Walk(std::vector<std::string> pieces, const std::string& subType = "mixed",
                      const std::string& boundary = "outer")
    {
        Ref<Message> message = NewMessage("multipart", subType);
        pop3::DotReader reader = ReaderOver(std::move(pieces));
        std::string buffer;
        Impl(message).WalkMultipart(boundary, buffer, reader);
        EXPECT_TRUE(reader.finished());
        Impl(message).FinishParts();
        return message;
    }

    void ExpectParts(const Ref<Message>& message, const std::vector<Expected>& parts, const std::string& context)
    {
        auto attachments = message->Attachments();
        ASSERT_EQ(attachments->Count(), static_cast<int32_t>(parts.size())) << context;
        for (size_t i = 0; i < parts.size(); ++i) {
            auto part = attachments->Item(Variant(static_cast<int32_t>(i + 1)));
            const Expected& want = parts[i];
            const std::string where = context + ", part " + std::to_string(i + 1);
            EXPECT_EQ(part->ContentType(), want.type) << where;
            EXPECT_EQ(part->ContentSubType(), want.subType) << where;
            EXPECT_EQ(part->Encoding(), want.encoding) << where;
            EXPECT_EQ(part->Filename(), want.filename) << where;
            EXPECT_EQ(part->Description(), want.description) << where;
            EXPECT_EQ(BodyOf(part), want.body) << where;
            EXPECT_EQ(part->Size(), std::to_string(want.body.size())) << where;
            EXPECT_EQ(!part->TempFilename().empty(), want.inFile) << where;
        }
    }
};

TEST_F(MimeWalk, EverySplitOfTheStreamGivesTheSameParts)
{
    const std::string wire = Stuffed(kMixed);
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        Ref<Message> message = Walk(SplitAt(wire, {cut}));
        ExpectParts(message, kMixedParts, "cut at " + std::to_string(cut));
        EXPECT_EQ(message->MessageText(), "Hello\r\n.dot line");
        if (HasFailure())
            return;
    }
    std::vector<std::string> bytes;
    for (char c : wire)
        bytes.emplace_back(1, c);
    ExpectParts(Walk(bytes), kMixedParts, "one byte at a time");
    pop3_->Messages()->DeleteAllMessage();
    EXPECT_EQ(FilesInCache(), 0u) << "released messages leave no temporary file";
}

TEST_F(MimeWalk, TruncatedAndSilentStreamsEndTheWalk)
{
    // The message ends without its closing delimiter: the open part keeps what came.
    Ref<Message> cut = Walk({Stuffed("--b\r\nContent-Type: text/plain\r\n\r\npartial\r\n")}, "mixed", "b");
    ASSERT_EQ(cut->Attachments()->Count(), 1);
    EXPECT_EQ(BodyOf(cut->Attachments()->Item(Variant(1))), "partial\r\n");
    // The server falls silent inside a part header.
    Ref<Message> silent = Walk({"--b\r\nContent-Type: te"}, "mixed", "b");
    EXPECT_EQ(silent->Attachments()->Count(), 0);
}

TEST_F(MimeWalk, HostileNestingAndPartCountsAreBounded)
{
    std::string deep;
    for (int i = 0; i < 200; ++i)
        deep += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=b" + std::to_string(i + 1) +
                "\r\n\r\n";
    deep += "--b200\r\n\r\nbottom\r\n";
    Ref<Message> nested = Walk({Stuffed(deep)}, "mixed", "b0");
    EXPECT_EQ(nested->Attachments()->Count(), 1);  // the level past the limit is kept as one part

    // Past the limits something is left out: the walk reads on to the end, then fails.
    std::string many;
    for (int i = 0; i < 1500; ++i)
        many += "--m\r\n\r\nx\r\n";
    Ref<Message> crowd = NewMessage();
    pop3::DotReader reader = ReaderOver({Stuffed(many + "--m--\r\n")});
    std::string buffer;
    EXPECT_EQ(Impl(crowd).WalkMultipart("m", buffer, reader), 64);
    EXPECT_TRUE(reader.ended());
    EXPECT_EQ(crowd->Attachments()->Count(), 1000);

    const std::string header = "--h\r\nX-Pad: " + std::string(20000, 'p') + "\r\n\r\nbody\r\n--h--\r\n";
    Ref<Message> padded = NewMessage();
    pop3::DotReader headerReader = ReaderOver({Stuffed(header)});
    EXPECT_EQ(Impl(padded).WalkMultipart("h", buffer, headerReader), 64);
    EXPECT_TRUE(headerReader.ended());
}

TEST(PartHeaders, BoundaryParameterWhereverItStands)
{
    EXPECT_EQ(pop3::BoundaryOf("type=\"text/html\"; Boundary=\"a b=\""), "a b=");
    EXPECT_EQ(pop3::BoundaryOf("boundary=plain; charset=x"), "plain");
    EXPECT_EQ(pop3::BoundaryOf("x=\"q\""), "q");
}

using SinglePart = BodyFixture;

TEST_F(SinglePart, EmbeddedUuencodedFileIsLiftedOut)
{
    pop3_->MaxMemAttachment(20);
    // A 14-byte last line has the count character ".", so it travels stuffed.
    const std::string block = "M86)C9&5F9VAI:FML;6YO<'%R<W1U=G=X>7I!0D-$149'2$E*2TQ-3D]0\r\n.4E-455976UA96F%B8V1E\r\n`\r\n";
    const std::string text = "See the file.\r\nbegin 644 file.zip\r\n" + block + "end\r\nsignature\r\n";
    const std::string wire = Stuffed(text);
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        Ref<Message> message = NewMessage("text", "plain");
        pop3::DotReader reader = ReaderOver(SplitAt(wire, {cut}));
        ASSERT_EQ(Impl(message).ReadSinglePart(reader), 0);
        ASSERT_EQ(message->MessageText(), "See the file.\r\nsignature\r\n") << "the text after the block stays";
        ASSERT_EQ(message->MessageStatus(), 4);
        auto file = message->Attachments()->Item(Variant(1));
        ASSERT_EQ(file->Filename(), "file.zip");
        ASSERT_EQ(file->Encoding(), "x-uuencode");
        ASSERT_EQ(BodyOf(file), block);
        ASSERT_FALSE(file->TempFilename().empty());  // larger than the limit
    }

}

TEST_F(SinglePart, ProseAndSilence)
{
    const std::string prose = "We begin the day.\r\nlet us begin 644 now\r\nend\r\n";
    Ref<Message> message = NewMessage("text", "plain");
    pop3::DotReader reader = ReaderOver({Stuffed(prose)});
    EXPECT_EQ(Impl(message).ReadSinglePart(reader), 0);
    EXPECT_EQ(message->MessageText(), prose);
    EXPECT_EQ(message->Attachments()->Count(), 0);

    Ref<Message> silent = NewMessage("text", "plain");
    pop3::DotReader cut = ReaderOver({"half a li"});
    EXPECT_EQ(Impl(silent).ReadSinglePart(cut), 1);
    EXPECT_NE(silent->MessageStatus(), 4);
}

} // namespace
} // namespace tolmail::testing

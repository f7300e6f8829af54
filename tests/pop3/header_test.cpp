// The header readers' line rules, without a server: fields, continuations, the
// field table, byte-stuffing, recipients, the Content-Type split and the limits.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/library_access.h"
#include "pop3/header_parse.h"

namespace tolmail::pop3 {
namespace {

class HeaderTest : public ::testing::Test {
protected:
    Ref<Message> message_ = AddMessage(*LibraryAccess::create<Messages>(), 1, WeakRef<TolvanPOP3>{});
    MessageImpl& m_ = LibraryAccess::impl(*message_);

    /// Feeds the lines (without CR LF) through one reader and runs the after-header steps.
    void Read(HeaderReader reader, std::initializer_list<std::string> lines, bool addRecipients = true)
    {
        HeaderScan scan(reader);
        for (const std::string& line : lines)
            TakeHeaderLine(m_, scan, line + "\r\n");
        FinishHeader(m_, scan, addRecipients);
    }

    std::string Recipient(int32_t position, int16_t type)
    {
        auto recipient = message_->Recipients()->Item(Variant(position));
        EXPECT_EQ(recipient->Types(), type);
        return recipient->Name() + "|" + recipient->Address();
    }
};

TEST_F(HeaderTest, FieldsOfAPlainHeader)
{
    Read(HeaderReader::Retr, {"Received: from x", "From: Ann Example <ann@example.org>", "Reply-To: rob@example.org",
                              "Subject:  Hello\tthere ", "Date: Tue, 2 Jan 2024 10:00:00 +0100",
                              "Message-ID: <1@example.org>", "Return-Receipt-To: ann@example.org",
                              "MIME-Version: 1.0", "Content-Type: text/plain; charset=iso-8859-1"});
    EXPECT_EQ(message_->FromName() + "|" + message_->FromAddress(), "Ann Example|ann@example.org");
    EXPECT_EQ(message_->ReplyToName() + "|" + message_->ReplyToAddress(), "|rob@example.org");
    EXPECT_EQ(message_->Subject(), "Hello there");
    EXPECT_EQ(message_->DateTime(), "Tue, 2 Jan 2024 10:00:00 +0100");
    EXPECT_EQ(message_->MessageId() + message_->ReturnReceipt(), "<1@example.org>ann@example.org");
    EXPECT_TRUE(message_->IsMIME());
    EXPECT_EQ(message_->ContentType() + "/" + message_->ContentSubType(), "text/plain");
    EXPECT_EQ(message_->CharSet(), "charset=iso-8859-1");
    EXPECT_EQ(m_.CompleteHeader.substr(0, 18), "Received: from x\r\n");
}

TEST_F(HeaderTest, FoldedFieldsAreUnfolded)
{
    Read(HeaderReader::Retr, {"To: Ann <ann@example.org>,", "  bob@example.org", "Cc: \"Carl C\" <carl@example.org>",
                              "Subject: first half", " second half", "Content-Type: multipart/mixed;",
                              "\tboundary=\"b1\""});
    ASSERT_EQ(message_->Recipients()->Count(), 3);
    EXPECT_EQ(Recipient(1, 1), "Ann|ann@example.org");
    EXPECT_EQ(Recipient(2, 1), "|bob@example.org");
    EXPECT_EQ(Recipient(3, 2), "\"Carl C\"|carl@example.org");
    EXPECT_EQ(message_->Subject(), "first half second half");
    EXPECT_EQ(message_->ContentType() + "/" + message_->ContentSubType(), "multipart/mixed");
    EXPECT_EQ(m_.ContentParams, "boundary=\"b1\"");
    EXPECT_EQ(message_->CharSet(), "") << "only a text type gives a charset";

    Read(HeaderReader::Retr, {"To: Ann <ann@example.org>, bob@example.org"}, false);
    EXPECT_EQ(message_->Recipients()->Count(), 3) << "a fetched header's recipients are not added again";
}

TEST_F(HeaderTest, BothReadersShareOneFieldLineRule)
{
    struct Case {
        std::vector<std::string> lines;
        std::string subject, date;
    };
    const Case cases[] = {
        {{"Date: today", "Subject:NoBlank"}, "NoBlank", "today"},
        {{"Subject:\tTabbed", "Date:x"}, "Tabbed", "x"},
        {{"Subject: one", "\ttwo", "  three", "Date: d"}, "one two  three", "d"},  // the folding blanks stay
        {{"Subject: a", "No Field: b"}, "a No Field: b", ""},  // a blank in the name: a continuation
        {{"Subject: a:b", ": no name"}, "a:b : no name", ""},
        {{"Subject: one", "Subject: two"}, "two", ""},
    };
    for (HeaderReader reader : {HeaderReader::Top, HeaderReader::Retr}) {
        for (const Case& c : cases) {
            m_.Subject.clear();
            m_.DateTime.clear();
            HeaderScan scan(reader);
            for (const std::string& line : c.lines)
                TakeHeaderLine(m_, scan, line + "\r\n");
            FinishHeader(m_, scan, false);
            EXPECT_EQ(message_->Subject() + "|" + message_->DateTime(), c.subject + "|" + c.date) << c.lines[0];
        }
    }
}

TEST_F(HeaderTest, QuotedDisplayNamesKeepTheirCommas)
{
    Read(HeaderReader::Retr, {"From: \"Doe, John\" <jd@example.com>", "To: \"Roe, R <x>\" <r@example.com>, ann@example.org",
                              "Cc: \"a\\\"b, c\" <c@example.com>"});
    EXPECT_EQ(message_->FromName() + "|" + message_->FromAddress(), "\"Doe, John\"|jd@example.com");
    ASSERT_EQ(message_->Recipients()->Count(), 3);
    EXPECT_EQ(Recipient(1, 1), "\"Roe, R <x>\"|r@example.com");
    EXPECT_EQ(Recipient(2, 1), "|ann@example.org");
    EXPECT_EQ(Recipient(3, 2), "\"a\\\"b, c\"|c@example.com");
}

TEST_F(HeaderTest, PrioritiesInEitherOrder)
{
    Read(HeaderReader::Retr, {"X-MSMail-Priority: High", "X-Priority: 2"});
    EXPECT_EQ(message_->Priority(), "2");
    m_.Priority.clear();
    Read(HeaderReader::Retr, {"X-Priority: 2", "X-MSMail-Priority: High"});
    EXPECT_EQ(message_->Priority(), "2");
    m_.Priority.clear();
    Read(HeaderReader::Top, {"Priority: urgent", "X-MSMail-Priority: nOrMaL"});
    EXPECT_EQ(message_->Priority(), "3") << "FetchHeader ignores Priority";
    Read(HeaderReader::Retr, {"Priority: urgent"});
    EXPECT_EQ(message_->Priority(), "urgent");
}

TEST_F(HeaderTest, LineKindsAndByteStuffing)
{
    HeaderScan scan(HeaderReader::Top);
    EXPECT_EQ(TakeHeaderLine(m_, scan, ""), HeaderLine::Nothing);
    EXPECT_EQ(TakeHeaderLine(m_, scan, "\r\n"), HeaderLine::Blank);
    EXPECT_EQ(TakeHeaderLine(m_, scan, ".\r\n"), HeaderLine::Terminator);
    EXPECT_EQ(m_.CompleteHeader, "") << "the terminator is never part of the header";
    EXPECT_EQ(TakeHeaderLine(m_, scan, "Subject: a\r\n"), HeaderLine::Content);
    EXPECT_EQ(TakeHeaderLine(m_, scan, "..\r\n"), HeaderLine::Content) << "a stuffed lone dot is content";
    EXPECT_EQ(TakeHeaderLine(m_, scan, "...dots\r\n"), HeaderLine::Content);
    FinishHeader(m_, scan, false);
    EXPECT_EQ(message_->Subject(), "a . ..dots");
    EXPECT_EQ(m_.CompleteHeader, "Subject: a\r\n.\r\n..dots\r\n");
}

TEST_F(HeaderTest, HostileHeadersStayBounded)
{
    const std::string huge(kMaxHeaderLineKept * 2, 'x');
    HeaderScan scan(HeaderReader::Retr);
    TakeHeaderLine(m_, scan, "Subject: " + huge + "\r\n");
    EXPECT_TRUE(scan.dropped) << "a line cut short leaves the header incomplete";
    for (size_t i = 0; i < kMaxCompleteHeader / 1000 + 10; ++i)
        TakeHeaderLine(m_, scan, "X-Filler: " + std::string(990, 'y') + "\r\n");
    EXPECT_LE(m_.CompleteHeader.size(), kMaxCompleteHeader);

    std::string list = "To: a@b";
    for (int i = 0; i < 30000; ++i)
        list += ",c";
    TakeHeaderLine(m_, scan, list + "\r\n");
    TakeHeaderLine(m_, scan, list + "\r\n");
    EXPECT_LE(scan.toList.size(), kMaxFieldList);
    FinishHeader(m_, scan, true);
    EXPECT_EQ(message_->Subject().size(), kMaxHeaderLineKept - 9);
    EXPECT_EQ(message_->Recipients()->Count(), kMaxRecipients);
}

} // namespace
} // namespace tolmail::pop3

// The header block, the recipient and custom-header lists and the property rules.
#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <tuple>
#include <set>

#include "smtp/header_value.h"
#include "smtp/headers.h"
#include "smtp/mime_body.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/error.h"

using namespace tolmail::smtp;
using tolmail::TolvanSMTP;

namespace {

tolmail::platform::LocalTime fixedTime()
{
    tolmail::platform::LocalTime t;
    t.year = 2026, t.month = 12, t.day = 6, t.weekday = 0;
    t.hour = 9, t.minute = 4, t.second = 5;
    t.biasMinutes = -60;  // one hour east of UTC
    return t;
}

MessageFields sample()
{
    MessageFields m;
    m.FromName = "Ann Sender";
    m.FromEmail = "ann@example.test";
    m.Subject = "Hello";
    m.recipients = {{"Bob", "bob@example.test", 1}, {"Cy", "cy@example.test", 2}, {"Di", "di@example.test", 1},
                    {"Ed", "ed@example.test", 3}, {"Fay", "fay@example.test", 7}};
    return m;
}

} // namespace

TEST(SmtpHeaders, BlockInOrderWithAllOptionalLines)
{
    MessageFields m = sample();
    m.ReturnReceipt = true;
    m.ReplyTo = "replies@example.test";
    m.priority = 2;
    m.CustomHeaders = "X-One: 1\r\nX-Two: 2\r\n";
    EXPECT_EQ(ComposeHeaders(m, fixedTime()),
              "From: Ann Sender <ann@example.test>\r\n"
              "To: Bob <bob@example.test>,Di <di@example.test>\r\n"
              "Cc: Cy <cy@example.test>\r\n"
              "Subject: Hello\r\n"
              "Date: Sun, 06 Dec 2026 09:04:05 +0100\r\n"
              "Return-Receipt-To: ann@example.test\r\n"
              "Reply-To: replies@example.test\r\n"
              "X-Priority:  2\r\n"
              "X-MSMail-Priority: High\r\n"
              "X-One: 1\r\nX-Two: 2\r\n");
}

TEST(SmtpHeaders, PriorityLines)
{
    MessageFields m;
    const char* expected[] = {nullptr, "High", "High", "Normal", "Normal", "Low"};
    for (int p = 0; p <= 5; ++p) {
        m.priority = p;
        const std::string block = ComposeHeaders(m, fixedTime());
        EXPECT_NE(block.find("X-Priority:  " + std::to_string(p) + "\r\n"), std::string::npos);
        if (expected[p] == nullptr)
            EXPECT_EQ(block.find("X-MSMail-Priority"), std::string::npos);
        else
            EXPECT_NE(block.find(std::string("X-MSMail-Priority: ") + expected[p] + "\r\n"), std::string::npos);
    }
    m.priority = 3;
    m.UseMSMail = false;
    EXPECT_EQ(ComposeHeaders(m, fixedTime()).find("X-MSMail"), std::string::npos);
}

TEST(SmtpHeaders, EmptyFieldsAndOnlyCc)
{
    MessageFields m;
    m.recipients = {{"Cy", "", 2}};
    const std::string block = ComposeHeaders(m, fixedTime());
    EXPECT_EQ(block.rfind("From:  <>\r\nCc: Cy <>\r\nSubject: \r\n", 0), 0u);
    EXPECT_EQ(block.find("To:"), std::string::npos);
}

TEST(SmtpHeaders, HostValuesWithLineBreaksAreFolded)
{
    MessageFields m = sample();
    m.Subject = "hi\r\nBcc: spy@example.test\r\n\r\n.\r\n";
    m.FromName = "Ann\nX-Evil: 1";
    m.DateTime = "today\r\n";
    const std::string block = ComposeHeaders(m, fixedTime());
    EXPECT_NE(block.find("Subject: hi\r\n Bcc: spy@example.test\r\n .\r\n"), std::string::npos);
    EXPECT_NE(block.find("From: Ann\r\n X-Evil: 1 <"), std::string::npos);
    EXPECT_NE(block.find("Date: today\r\n"), std::string::npos);
    EXPECT_EQ(block.find("\r\n\r\n"), std::string::npos);
}

TEST(SmtpHeaders, DateUsesEnglishNamesAndTheZoneInEffect)
{
    // Whatever the locale, the names stay English.
    std::setlocale(LC_ALL, "");
    const std::string value = BuildDateValue("", tolmail::platform::LocalNow());
    ASSERT_EQ(value.size(), 31u) << value;  // "Sun, 06 Dec 2026 09:04:05 +0100"
    EXPECT_NE(std::string("SunMonTueWedThuFriSat").find(value.substr(0, 3)), std::string::npos) << value;
    EXPECT_NE(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(value.substr(8, 3)), std::string::npos)
        << value;
    EXPECT_TRUE(value[26] == '+' || value[26] == '-') << value;
    auto west = fixedTime();
    west.biasMinutes = 300;
    EXPECT_EQ(BuildDateValue("", west), "Sun, 06 Dec 2026 09:04:05 -0500");
    EXPECT_EQ(BuildDateValue("any text", west), "any text");
}

TEST(SmtpHeaders, CharsetNameAndBoundary)
{
    MessageFields m;
    for (int flag : {1, 0, 2, -3}) {
        m.charset = flag;
        EXPECT_EQ(CharsetName(m), flag == 1 ? "US-ASCII" : "ISO-8859-1");
    }
    m.CustomCharset = "UTF-8";
    EXPECT_EQ(CharsetName(m), "UTF-8");
}

TEST(SmtpHeaders, BoundariesAreUniqueAndOfOneShape)
{
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string b = MakeBoundary();
        ASSERT_EQ(b.rfind("----= _NextPart_", 0), 0u) << b;
        ASSERT_LE(b.size(), 70u);  // the longest boundary MIME allows
        EXPECT_EQ(b.find_first_not_of("0123456789abcdef.", 16), std::string::npos) << b;
        EXPECT_TRUE(seen.insert(b).second) << b;
    }
}

TEST(SmtpHeaders, QuotedStringContent)
{
    const std::pair<const char*, const char*> cases[] = {
        {"plain.txt", "plain.txt"},
        {"a\"b.txt", "a\\\"b.txt"},
        {"back\\slash", "back\\\\slash"},
        {"two\r\nlines", "twolines"},
        {"\"; x=\"y", "\\\"; x=\\\"y"},
    };
    for (auto [in, out] : cases)
        EXPECT_EQ(QuotedStringContent(in), out) << in;
}

TEST(SmtpSurface, SetterRules)
{
    auto smtp = TolvanSMTP::Create();
    // property, value set, value stored; applied in order on one component
    const std::tuple<char, int32_t, int32_t> rows[] = {{'T', 2000, 0}, {'T', -1, 0}, {'T', 1500, 1500}, {'P', 9, 1},
                                                       {'P', -1, 1},   {'P', 0, 0},   {'P', 5, 5},   {'C', 5, 1},
                                                       {'C', -3, -3},  {'C', 2, 2}};
    for (auto [property, set, stored] : rows) {
        if (property == 'T')
            smtp->TimeOut(set);
        else
            property == 'P' ? smtp->Priority(set) : smtp->CharSet(set);
        EXPECT_EQ(property == 'T' ? smtp->TimeOut() : property == 'P' ? smtp->Priority() : smtp->CharSet(), stored)
            << property << set;
    }
}

TEST(SmtpSurface, RecipientRules)
{
    auto smtp = TolvanSMTP::Create();
    const std::string name64(64, 'n'), address64(64, 'a');
    EXPECT_EQ(smtp->AddRecipients(name64, address64, 1), 0);
    // Too long, empty, or with characters a name cannot carry; in the address, a line
    // break would end the RCPT TO command, and a blank, an angle bracket or a control
    // character would end the address and add parameters.
    const std::pair<std::string, std::string> refused[] = {
        {name64 + "n", "x"}, {"n", address64 + "a"}, {"", "x"}, {"O'Neil", "x"}, {"say \"hi\"", "x"},
        {"Jos\xE9", "x"}, {"Evil", "a@b\r\nRCPT TO: <c@d>"}, {"Evil", "a@b\n"}, {"Evil", "x@y> NOTIFY=NEVER"},
        {"Evil", "x@y NOTIFY=NEVER"}, {"Evil", "x@y\tA"}, {"Evil", "<x@y>"}, {"Evil", "x@y>"}, {"Evil", "x\x7f@y"},
        {"Evil", std::string("x\0@y", 4)}};
    for (const auto& [name, address] : refused)
        EXPECT_EQ(smtp->AddRecipients(name, address, 1), 5) << name << " " << address;
    EXPECT_EQ(smtp->AddRecipients("a@b, c. d-!#%*+=", "", 7), 0);
    EXPECT_EQ(smtp->AddRecipients("Blanks", "  x@y  ", 1), 0);  // trimmed when sent
    EXPECT_EQ(smtp->CountRecipients(), 3);
    EXPECT_THROW(smtp->AddRecipients("Big", "x", 256), tolmail::Error);
    EXPECT_THROW(smtp->AddRecipients("Neg", "x", -1), tolmail::Error);
    EXPECT_EQ(smtp->CountRecipients(), 3);
}

TEST(SmtpSurface, CustomHeadersAttachmentsAndClear)
{
    auto smtp = TolvanSMTP::Create();
    EXPECT_EQ(smtp->AddCustomHeader("X-A", ""), 5);
    EXPECT_EQ(smtp->AddCustomHeader("", "v"), 5);
    EXPECT_EQ(smtp->AddCustomHeader("X-A\r\nBcc", "v"), 5);
    EXPECT_EQ(smtp->AddCustomHeader("X-A", "v"), 0);
    EXPECT_EQ(smtp->AddAttachment("/nonexistent/file", 2), 5);
    const std::string self = ::testing::TempDir() + "smtp_surface_attach.txt";
    std::ofstream(self, std::ios::binary) << "x";
    EXPECT_EQ(smtp->AddAttachment(self, 2), 0);
    EXPECT_EQ(smtp->AddRecipients("Bob", "b@x", 1), 0);
    EXPECT_EQ(smtp->CountAttachment(), 1);
    smtp->Clear(8);
    EXPECT_EQ(smtp->CountAttachment(), 1);
    EXPECT_EQ(smtp->CountRecipients(), 1);
    smtp->Clear(2);
    EXPECT_EQ(smtp->CountRecipients(), 0);
    EXPECT_EQ(smtp->CountAttachment(), 1);
    smtp->Clear();
    EXPECT_EQ(smtp->CountAttachment(), 0);

    // ImportMailBody appends, and leaves the body alone when the file is missing.
    smtp->MailBody("A");
    EXPECT_EQ(smtp->ImportMailBody(self), 0);
    EXPECT_EQ(smtp->ImportMailBody(self), 0);
    EXPECT_EQ(smtp->MailBody(), "Axx");
    EXPECT_EQ(smtp->ImportMailBody("/nonexistent/file"), 32);
    EXPECT_EQ(smtp->MailBody(), "Axx");
    std::remove(self.c_str());
}

TEST(SmtpSurface, SendRefusesBrokenSenderBeforeAnythingGoesOut)
{
    const std::pair<std::string, const char*> cases[] = {
        {"a@b\r\nRCPT TO: <victim@x>", "FromEmail properties cannot contain line breaks"},
        {"a@b> NOTIFY=NEVER", "FromEmail properties cannot contain blanks, angle brackets or control characters"},
        {" a@b SIZE=1 ", "FromEmail properties cannot contain blanks, angle brackets or control characters"},
    };
    for (const auto& [from, text] : cases) {
        auto smtp = TolvanSMTP::Create();
        smtp->Host("127.0.0.1");
        smtp->Port(1);  // nothing listens: a connection attempt would give another code
        smtp->FromEmail(from);
        EXPECT_EQ(smtp->AddRecipients("Bob", "b@x", 1), 0);
        EXPECT_EQ(smtp->Send(), 8) << from;
        EXPECT_EQ(smtp->SMTPError(), text);
        EXPECT_EQ(smtp->Disconnect(), 6);
    }
}

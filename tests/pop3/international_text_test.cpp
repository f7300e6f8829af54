// The international reading: messages in the forms common mailers write, read through a
// component from a scripted server, give their names and texts as UTF-8.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/loopback_peer.h"
#include "tolmail/Attachment.h"
#include "tolmail/Attachments.h"
#include "tolmail/Recipient.h"
#include "tolmail/Recipients.h"
#include "tolmail/TolvanPOP3.h"

namespace tolmail::testing {
namespace {

struct Fixture {
    const char* what;
    std::string message;  // CR LF lines, no dot-stuffing needed
    std::string subject;
    std::string text;                       // MessageText
    std::vector<std::string> attachments;   // Filename of each attachment, in order
};

const Fixture kFixtures[] = {
    {"name in both headers",
     "Subject: Report\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
     "--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSee attached.\r\n"
     "--b\r\nContent-Type: application/pdf; name=\"Report Q1.pdf\"\r\n"
     "Content-Disposition: attachment; filename=\"Report Q1.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
     "JVBERg==\r\n--b--\r\n",
     "Report", "See attached.", {"", "Report Q1.pdf"}},
    {"name only in Content-Disposition",
     "Subject: Notes\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
     "--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
     "--b\r\nContent-Type: text/plain; charset=us-ascii\r\n"
     "Content-Disposition: attachment;\r\n\tfilename=\"Meeting Notes.txt\"\r\n\r\nnotes\r\n--b--\r\n",
     "Notes", "body", {"", "Meeting Notes.txt"}},
    {"RFC 2231 sections with charset and language",
     "Subject: =?utf-8?Q?Gr=C3=BC=C3=9Fe?=\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
     "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment;\r\n"
     " filename*1*=%C3%9Fe%20aus%20K%C3%B6ln.txt;\r\n filename*0*=utf-8'de'Gr%C3%BC\r\n\r\nx\r\n--b--\r\n",
     "Gr\xc3\xbc\xc3\x9f" "e", "", {"Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln.txt"}},
    {"encoded word inside a quoted name",
     "Subject: photo\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
     "--b\r\nContent-Type: image/jpeg; name=\"=?UTF-8?B?0KTQvtGC0L4uanBn?=\"\r\n\r\nx\r\n--b--\r\n",
     "photo", "", {"\xd0\xa4\xd0\xbe\xd1\x82\xd0\xbe.jpg"}},
    {"a part without Content-Type takes no name from the part before",
     "Subject: two\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
     "--b\r\nContent-Type: application/pdf; name=\"a.pdf\"\r\n\r\nx\r\n"
     "--b\r\nContent-Disposition: attachment\r\n\r\ny\r\n--b--\r\n",
     "two", "", {"a.pdf", ""}},
    {"ISO-8859-1 subject and quoted-printable text",
     "Subject: =?ISO-8859-1?Q?Caf=E9_cr=E8me?=\r\nContent-Type: text/plain; charset=\"ISO-8859-1\"\r\n"
     "Content-Transfer-Encoding: quoted-printable\r\n\r\nd=E9j=E0 vu=\r\n!\r\n",
     "Caf\xc3\xa9 cr\xc3\xa8me", "d\xc3\xa9j\xc3\xa0 vu!\r\n", {}},
    {"Windows-1252 subject",
     "Subject: =?windows-1252?Q?=93Quoted=94_=80?=\r\n\r\nplain\r\n",
     "\xe2\x80\x9cQuoted\xe2\x80\x9d \xe2\x82\xac", "plain\r\n", {}},
    {"KOI8-R subject and base64 text part",
     "Subject: =?koi8-r?B?8NLJ18XU?=\r\nContent-Type: multipart/alternative; boundary=b\r\n\r\n"
     "--b\r\nContent-Type: text/plain; charset=koi8-r\r\nContent-Transfer-Encoding: base64\r\n\r\n"
     "8NLJ18XU\r\n--b--\r\n",
     "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82",
     {""}},
    {"Shift_JIS subject over two words, folded",
     "Subject: =?Shift_JIS?B?k/o=?=\r\n =?Shift_JIS?B?lns=?=\r\nContent-Type: text/plain; charset=Shift_JIS\r\n"
     "\r\n\x93\xfa\x96\x7b\r\n",
     "\xe6\x97\xa5\xe6\x9c\xac", "\xe6\x97\xa5\xe6\x9c\xac\r\n", {}},
    {"malformed encoded word",
     "Subject: =?utf-8?Q?broken word?= =?utf-8?Z?x?=\r\n\r\nx\r\n",
     "=?utf-8?Q?broken word?= =?utf-8?Z?x?=", "x\r\n", {}},
    {"unknown charset",
     "Subject: =?x-martian?Q?=E9t=E9?=\r\nContent-Type: text/plain; charset=x-martian\r\n\r\n\xe9t\xe9\r\n",
     "\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9\r\n", {}},
};

std::string RetrReply(const std::string& message)
{
    return "+OK " + std::to_string(message.size()) + " octets\r\n" + message + ".\r\n";
}

class InternationalText : public ::testing::Test {
protected:
    /// Reads the messages through a component in the given mode.
    Ref<Messages> Read(const std::vector<std::string>& messages, bool international)
    {
        std::vector<std::string> replies{"+OK ready\r\n", "+OK\r\n", "+OK\r\n",
                                         "+OK " + std::to_string(messages.size()) + " 1000\r\n"};
        for (const std::string& message : messages)
            replies.push_back(RetrReply(message));
        replies.push_back("+OK bye\r\n");
        loopback::ScriptedPeer peer({loopback::Replies(replies)});
        Ref<TolvanPOP3> pop3 = TolvanPOP3::Create();
        pop3->Host("127.0.0.1");
        pop3->Port(static_cast<int16_t>(peer.port()));
        pop3->Login("user");
        pop3->TimeOut(5);
        pop3->InternationalText(international);
        EXPECT_EQ(pop3->Connect(), 0);
        EXPECT_EQ(pop3->GetMessages(0), 0);
        EXPECT_EQ(pop3->Disconnect(), 0);
        return pop3->Messages();
    }
};

TEST_F(InternationalText, FixturesGiveTheirNamesAndTexts)
{
    std::vector<std::string> wire;
    for (const Fixture& f : kFixtures)
        wire.push_back(f.message);
    Ref<Messages> messages = Read(wire, true);
    ASSERT_EQ(messages->Count(), static_cast<int32_t>(std::size(kFixtures)));
    for (size_t i = 0; i < std::size(kFixtures); ++i) {
        const Fixture& f = kFixtures[i];
        Ref<Message> message = messages->Item(Variant(static_cast<int32_t>(i + 1)));
        EXPECT_EQ(message->Subject(), f.subject) << f.what;
        EXPECT_EQ(message->MessageText(), f.text) << f.what;
        std::vector<std::string> names;
        for (const auto& part : message->Attachments()->NewEnum())
            names.push_back(part->Filename());
        EXPECT_EQ(names, f.attachments) << f.what;
    }
}

TEST_F(InternationalText, DisplayNamesKeepEveryLetter)
{
    const std::string message =
        "From: =?utf-8?Q?J=C3=B6rg_M=C3=BCller?= <jm@example.com>\r\n"
        "Reply-To: \"M\xc3\xbcller, J\xc3\xb6rg\" <reply@example.com>\r\n"
        "To: \xc3\x89milie <em@example.org>, \"Doe, \\\"JD\\\" John\" <jd@example.org>\r\n"
        "Cc: =?iso-8859-1?Q?Andr=E9?= <andre@example.net>, plain@example.net\r\n"
        "Subject: names\r\n"
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
        "--b\r\nContent-Type: text/plain; charset=utf-8\r\n"
        "Content-Description: =?utf-8?Q?R=C3=A9sum=C3=A9?=\r\n\r\ntext\r\n--b--\r\n";
    Ref<Message> read = Read({message}, true)->Item(Variant(1));
    EXPECT_EQ(read->FromName(), "J\xc3\xb6rg M\xc3\xbcller");
    EXPECT_EQ(read->FromAddress(), "jm@example.com");
    EXPECT_EQ(read->ReplyToName(), "M\xc3\xbcller, J\xc3\xb6rg");
    std::vector<std::string> names, addresses;
    for (const auto& recipient : read->Recipients()->NewEnum()) {
        names.push_back(recipient->Name());
        addresses.push_back(recipient->Address());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"\xc3\x89milie", "Doe, \"JD\" John", "Andr\xc3\xa9", ""}));
    EXPECT_EQ(addresses, (std::vector<std::string>{"em@example.org", "jd@example.org", "andre@example.net",
                                                   "plain@example.net"}));
    EXPECT_EQ(read->Attachments()->Item(Variant(1))->Description(), "R\xc3\xa9sum\xc3\xa9");
    EXPECT_EQ(read->CharSet(), "UTF-8");
}

TEST_F(InternationalText, DefaultReadingKeepsTheBytes)
{
    const Fixture& sections = kFixtures[2];
    const Fixture& latin1 = kFixtures[5];
    Ref<Messages> messages = Read({sections.message, latin1.message}, false);
    EXPECT_EQ(messages->Item(Variant(1))->Subject(), "=?utf-8?Q?Gr=C3=BC=C3=9Fe?=");
    EXPECT_EQ(messages->Item(Variant(2))->MessageText(), "d=E9j=E0 vu=\r\n!\r\n");
    EXPECT_EQ(messages->Item(Variant(2))->CharSet(), "charset=\"ISO-8859-1\"");
}

} // namespace
} // namespace tolmail::testing

// The body readers in the POP3 dialogue: what follows a multipart body's closing
// delimiter is drained, so the next command reads its own reply.
#include <gtest/gtest.h>

#include "support/loopback_peer.h"
#include "tolmail/TolvanPOP3.h"

namespace tolmail::testing {
namespace {

TEST(BodyDialogue, EpilogueAfterTheClosingDelimiterIsNotTheNextReply)
{
    const std::string first =
        "+OK\r\nSubject: one\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain\r\n\r\nfirst text\r\n--b--\r\n" +
        std::string(300000, 'e') + "\r\n..e\r\n.\r\n";
    const std::string second = "+OK\r\nSubject: two\r\n\r\nsecond text\r\n.\r\n";
    loopback::ScriptedPeer peer(
        {loopback::Replies({"+OK ready\r\n", "+OK\r\n", "+OK\r\n", "+OK 2 400000\r\n", first, second, "+OK bye\r\n"})});
    Ref<TolvanPOP3> pop3 = TolvanPOP3::Create();
    pop3->Host("127.0.0.1");
    pop3->Port(static_cast<int16_t>(peer.port()));
    pop3->Login("user");
    pop3->TimeOut(5);
    ASSERT_EQ(pop3->Connect(), 0);
    ASSERT_EQ(pop3->GetMessages(0), 0);
    EXPECT_EQ(pop3->Disconnect(), 0);

    auto messages = pop3->Messages();
    ASSERT_EQ(messages->Count(), 2);
    EXPECT_EQ(messages->Item(Variant(1))->MessageText(), "first text");
    EXPECT_EQ(messages->Item(Variant(2))->Subject(), "two");
    EXPECT_EQ(messages->Item(Variant(2))->MessageText(), "second text\r\n");
    EXPECT_EQ(peer.lines(), (std::vector<std::string>{"USER user", "PASS ", "STAT", "RETR 1", "RETR 2", "QUIT"}));
}

} // namespace
} // namespace tolmail::testing

// Messages in files: a message composed elsewhere sent as it stands (line ends, dots,
// envelope, streaming across read boundaries, files that cannot be sent), and the
// composed message written to a file exactly as Send puts it on the wire.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/loopback_peer.h"
#include "tolmail/TolvanSMTP.h"

using namespace loopback;
using tolmail::TolvanSMTP;

namespace {

const std::string kDate = "Mon, 07 Dec 2026 10:00:00 +0000";

/// A server that takes `transactions` messages for `recipients` recipients each, then QUIT.
Script Accepting(int transactions, int recipients)
{
    Script script{Say("220 ready\r\n"), Hear(), Say("250 hello\r\n")};
    for (int t = 0; t < transactions; ++t) {
        script.insert(script.end(), {Hear(), Say("250 sender ok\r\n")});
        for (int r = 0; r < recipients; ++r)
            script.insert(script.end(), {Hear(), Say("250 recipient ok\r\n")});
        script.insert(script.end(), {Hear(), Say("354 go ahead\r\n"), HearData(), Say("250 queued\r\n")});
    }
    script.insert(script.end(), {Hear(), Say("221 bye\r\n")});
    return script;
}

/// The DATA sections of a dialogue, each without its end-of-data line, still stuffed.
std::vector<std::string> DataSections(const std::string& dialogue)
{
    std::vector<std::string> sections;
    for (size_t at = 0; (at = dialogue.find("\r\nDATA\r\n", at)) != std::string::npos;) {
        const size_t begin = at + 8;
        // An empty section ends at once: its end-of-data line shares the CR LF of DATA.
        const size_t end = dialogue.find("\r\n.\r\n", begin - 2) + 2;
        sections.push_back(dialogue.substr(begin, end - begin));
        at = end;
    }
    return sections;
}

/// Dot-stuffing undone, for text whose every line ends in CR LF.
std::string Unstuffed(const std::string& wire)
{
    std::string text = wire.rfind("..", 0) == 0 ? wire.substr(1) : wire;
    for (size_t at = 0; (at = text.find("\r\n..", at)) != std::string::npos; at += 3)
        text.erase(at + 2, 1);
    return text;
}

/// Each MIME boundary replaced by one stand-in: each message makes its own.
std::string SameBoundaries(std::string text)
{
    const std::string prefix = "----= _NextPart_";
    for (size_t at = 0; (at = text.find(prefix, at)) != std::string::npos; at += 8) {
        const size_t end = text.find_first_not_of("0123456789abcdef.", at + prefix.size());
        text.replace(at, end - at, "BOUNDARY");
    }
    return text;
}

std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class SmtpMessageFile : public ::testing::Test {
protected:
    std::string file(const std::string& name, const std::string& contents)
    {
        const std::string path = ::testing::TempDir() + "message-file-" + name;
        std::remove(path.c_str());
        if (!contents.empty() || name.find("empty") != std::string::npos)
            std::ofstream(path, std::ios::binary) << contents;
        files_.push_back(path);
        return path;
    }
    void TearDown() override
    {
        for (const auto& f : files_) {
            ::chmod(f.c_str(), 0600);
            std::remove(f.c_str());
        }
    }

    static tolmail::Ref<TolvanSMTP> smtp(uint16_t port)
    {
        auto s = TolvanSMTP::Create();
        s->Host("127.0.0.1");
        s->Port(static_cast<int16_t>(port));
        s->TimeOut(5);
        s->FromEmail("ann@example.test");
        s->FromName("Ann");
        s->Subject("Test");
        s->DateTime(kDate);
        return s;
    }

    std::vector<std::string> files_;
};

} // namespace

TEST_F(SmtpMessageFile, SendsTheFileAsItStandsWithCrLfAndStuffedDots)
{
    // A CR LF cut by the 64 KiB read boundary stays one line end.
    std::string straddling(65535, 'x');
    straddling += "\r\n.after\n";
    // A few MiB in lines of every length around the read size, many starting with a dot.
    std::string big, bigWire;
    for (size_t i = 0; big.size() < 3 * 1024 * 1024; ++i) {
        // Built by appends: GCC 12 at -O3 takes "literal" + std::string&& for an
        // overlapping copy (bug 105651).
        std::string line(i % 3 == 0 ? 1 : 0, '.');
        line.append(i % 997, static_cast<char>('a' + i % 26));
        big.append(line).append("\n");
        bigWire.append(i % 3 == 0 ? "." : "").append(line).append("\r\n");
    }
    const struct {
        const char* name;
        std::string file;
        std::string wire;
    } cases[] = {
        {"LF line ends", "Subject: a\n\nline\n", "Subject: a\r\n\r\nline\r\n"},
        {"dot lines", ".x\n.\nmid.dot\n..\n", "..x\r\n..\r\nmid.dot\r\n...\r\n"},
        {"no last line end", "a\nb", "a\r\nb\r\n"},
        {"lone CR, CR LF", "a\r\nb\rc\r", "a\r\nb\r\nc\r\n"},
        {"empty", "", ""},
        {"CR LF across reads", straddling, std::string(65535, 'x') + "\r\n..after\r\n"},
        {"big", big, bigWire},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({Accepting(1, 3)});
        auto s = smtp(peer.port());
        s->Subject("not used");
        s->MailBody("not used either");
        s->AddRecipients("To", "to@example.test", 1);
        s->AddRecipients("Cc", "cc@example.test", 2);
        s->AddRecipients("Bcc", "bcc@example.test", 3);
        EXPECT_EQ(s->SendMessageFile(file(std::string(c.name) + (c.file.empty() ? " empty" : ""), c.file)), 0)
            << s->SMTPError();
        EXPECT_EQ(s->Disconnect(), 0);
        const std::string dialogue = peer.finish()[0];
        for (const char* command : {"MAIL FROM: <ann@example.test>\r\n", "RCPT TO: <to@example.test>\r\n",
                                    "RCPT TO: <cc@example.test>\r\n", "RCPT TO: <bcc@example.test>\r\n"})
            EXPECT_NE(dialogue.find(command), std::string::npos) << command;
        const auto sections = DataSections(dialogue);
        // Compared as a whole: a difference in megabytes is not worth printing.
        EXPECT_TRUE(sections == std::vector<std::string>{c.wire}) << "got " << sections.size() << " sections";
    }
}

TEST_F(SmtpMessageFile, AFileThatCannotBeSentNeverStartsATransaction)
{
    const std::string unreadable = file("unreadable", "Subject: x\n\ny\n");
    ::chmod(unreadable.c_str(), 0);
    const bool rootReads = ::access(unreadable.c_str(), R_OK) == 0;
    const struct {
        const char* name;
        std::string path;
        int32_t result;
        const char* error;
    } cases[] = {
        {"missing", file("missing", ""), tolmail::smtp_result::AttachmentMissing,
         "The message file is missing; the message was not sent"},
        {"a directory", ::testing::TempDir(), tolmail::smtp_result::AttachmentMissing,
         "The message file is missing; the message was not sent"},
        {"unreadable", unreadable, tolmail::smtp_result::AttachmentFailed,
         "The message file could not be read; the message was not sent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (rootReads && c.result == tolmail::smtp_result::AttachmentFailed)
            continue;  // permissions do not stop this user
        ScriptedPeer peer({Accepting(1, 1)});
        auto s = smtp(peer.port());
        s->AddRecipients("Bob", "bob@example.test", 1);
        EXPECT_EQ(s->SendMessageFile(c.path), c.result);
        EXPECT_EQ(s->SMTPError(), c.error);
        EXPECT_EQ(peer.accepted(), 0u);
    }
}

TEST_F(SmtpMessageFile, SavedMessageIsWhatSendPutsOnTheWireUnstuffed)
{
    const std::string attachment = file("part.txt", "one\n.two\nthree");
    const std::string body = "Hello\r\n.dotted line\r\n..two dots\r\nend";
    const struct {
        const char* name;
        bool mime;
        int attachments;
    } cases[] = {
        {"MIME, text only", true, 0},
        {"MIME with attachments", true, 2},
        {"plain with attachments", false, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int transactions = c.mime ? 1 : 1 + c.attachments;
        ScriptedPeer peer({Accepting(transactions, 2)});
        auto s = smtp(peer.port());
        s->UseMIME(c.mime);
        s->MailBody(body);
        s->AddRecipients("Bob", "bob@example.test", 1);
        s->AddRecipients("Hidden", "hidden@example.test", 3);
        s->AddCustomHeader("X-Test", "yes");
        for (int i = 0; i < c.attachments; ++i)
            s->AddAttachment(attachment, i == 0 ? 2 : 1);
        const std::string saved = file(std::string("saved ") + c.name, "");
        ASSERT_EQ(s->SaveMessage(saved), 0);
        EXPECT_EQ(s->Send(), 0) << s->SMTPError();
        EXPECT_EQ(s->Disconnect(), 0);
        std::string wire;
        for (const std::string& section : DataSections(peer.finish()[0]))
            wire += Unstuffed(section);
        const std::string text = Contents(saved);
        EXPECT_EQ(SameBoundaries(text), SameBoundaries(wire));
        EXPECT_NE(text.find("\r\n.dotted line\r\n"), std::string::npos);
        EXPECT_EQ(text.find("hidden@"), std::string::npos);
    }
}

TEST_F(SmtpMessageFile, SaveNeverOverwritesNorLeavesAPartialMessage)
{
    const std::string existing = file("existing", "keep me");
    const std::string target = file("target", "");
    const struct {
        const char* name;
        std::string path;
        std::string attachment;  // "" none
        int32_t result;
    } cases[] = {
        {"existing target", existing, "", tolmail::file_result::Exists},
        {"empty name", "", "", tolmail::file_result::EmptyFilename},
        {"attachment gone", target, file("vanishing", "data"), tolmail::file_result::Missing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto s = smtp(freePort());
        s->AddRecipients("Bob", "bob@example.test", 1);
        if (!c.attachment.empty()) {
            ASSERT_EQ(s->AddAttachment(c.attachment, 2), 0);
            std::remove(c.attachment.c_str());
        }
        EXPECT_EQ(s->SaveMessage(c.path), c.result);
    }
    EXPECT_EQ(Contents(existing), "keep me");
    EXPECT_FALSE(std::ifstream(target).good());
}

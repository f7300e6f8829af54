// Byte-exact tests of what an SMTP server (aiosmtpd) receives: header block, MIME
// structure, chunk layout of every encoding, plain mode, transparency, and events.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "codec/base64.h"
#include "codec/uuencode.h"
#include "platform/local_time.h"
#include "smtp/capture_server.h"
#include "smtp/event_log.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/TolvanSocket.h"

using namespace smtptest;
using tolmail::TolvanSMTP;

namespace {

const std::string kDate = "Mon, 07 Dec 2026 10:00:00 +0000";

class SmtpCapture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new CaptureServer(); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override
    {
        if (!server_->available())
            GTEST_SKIP() << "aiosmtpd capture server could not start (needs python3-aiosmtpd)";
        smtp_ = TolvanSMTP::Create();
        smtp_->Host("127.0.0.1");
        smtp_->Port(static_cast<int16_t>(server_->port()));
        smtp_->TimeOut(10);
        smtp_->FromName("Ann Sender");
        smtp_->FromEmail("ann@example.test");
        smtp_->Subject("Test");
        smtp_->DateTime(kDate);
        smtp_->AddRecipients("Bob", "bob@example.test", 1);
        log_ = Record(*smtp_);
    }

    /// Sends, disconnects and returns what the server received on this connection.
    std::string sendAndCapture(int32_t expectedResult = 0)
    {
        const int before = server_->connections();
        EXPECT_EQ(smtp_->Send(), expectedResult) << smtp_->SMTPError();
        lastError_ = smtp_->SMTPError();
        EXPECT_EQ(smtp_->Disconnect(), 0);
        return server_->received(before + 1);
    }

    std::string file(const std::string& name, const std::string& contents)
    {
        const std::string path = ::testing::TempDir() + name;
        std::ofstream(path, std::ios::binary) << contents;
        files_.push_back(path);
        return path;
    }

    void TearDown() override
    {
        for (const auto& f : files_)
            std::remove(f.c_str());
    }

    static std::string helo()
    {
        auto sock = tolmail::TolvanSocket::Create();
        const std::string name = sock->LocalHostName();
        return "HELO " + (name.empty() ? std::string("Unknown Host") : name) + "\r\n";
    }

    static std::string headers(const std::string& from = "<ann@example.test>")
    {
        return "From: Ann Sender " + from + "\r\n"
               "To: Bob <bob@example.test>\r\n"
               "Subject: Test\r\n"
               "Date: " + kDate + "\r\n"
               "X-Priority:  3\r\n"
               "X-MSMail-Priority: Normal\r\n";
    }

    static std::string boundaryOf(const std::string& wire)
    {
        const std::string head = "boundary=\"----= _NextPart_";
        const size_t at = wire.find(head);
        const size_t end = at == std::string::npos ? at : wire.find('"', at + head.size());
        EXPECT_NE(end, std::string::npos);
        if (end == std::string::npos)
            return {};
        const std::string b = wire.substr(at + 10, end - at - 10);
        EXPECT_EQ(b.find_first_not_of("0123456789abcdef.", 16), std::string::npos) << b;
        return b;
    }

    static std::string random(size_t n, unsigned seed)
    {
        std::mt19937 rng(seed);
        std::string s(n, '\0');
        for (char& c : s)
            c = static_cast<char>(rng() & 0xFF);
        return s;
    }

    /// 8-bit data in CR LF lines shorter than 1000 bytes, some starting with ".".
    static std::string crlfLines(size_t atLeast, unsigned seed)
    {
        std::mt19937 rng(seed);
        std::string s;
        while (s.size() < atLeast) {
            std::string line(rng() % 998, '\0');
            for (char& c : line) {
                do
                    c = static_cast<char>(rng() & 0xFF);
                while (c == '\r' || c == '\n');
            }
            if (rng() % 3 == 0)
                line = "." + line.substr(0, line.size() / 4);
            s += line + "\r\n";
        }
        return s + ".\r\n";
    }

    static CaptureServer* server_;
    tolmail::Ref<TolvanSMTP> smtp_;
    std::shared_ptr<EventLog> log_;
    std::vector<std::string> files_;
    std::string lastError_;
};

CaptureServer* SmtpCapture::server_ = nullptr;

std::string chunkedBase64(const std::string& data)
{
    std::string out;
    for (size_t at = 0; at < data.size(); at += 2850)
        out += tolmail::codec::Base64Encode(data.substr(at, 2850));
    return out;
}

std::string chunkedUu(const std::string& data)
{
    std::string out;
    for (size_t at = 0; at < data.size(); at += 2250) {
        std::string lines = tolmail::codec::UuEncode(data.substr(at, 2250));
        lines.pop_back();  // the grave accent that closes each encoder call
        out += lines;
    }
    return out + "`\r\n";
}

size_t countLines(const std::string& s)
{
    size_t n = 0;
    for (size_t at = 0; (at = s.find("\r\n", at)) != std::string::npos; at += 2)
        ++n;
    return n;
}

} // namespace

TEST_F(SmtpCapture, SinglePartDialogueWithStuffedAndNormalisedBody)
{
    smtp_->MailBody(".first\nsecond\r\n.third\rlast");
    smtp_->AddRecipients("Cy", "cy@example.test", 2);
    smtp_->AddRecipients("Dee", "dee@example.test", 3);  // Bcc: the envelope alone names her
    const std::string wire = sendAndCapture();
    EXPECT_EQ(wire, helo() +
                        "MAIL FROM: <ann@example.test>\r\n"
                        "RCPT TO: <bob@example.test>\r\n"
                        "RCPT TO: <cy@example.test>\r\n"
                        "RCPT TO: <dee@example.test>\r\n"
                        "DATA\r\n"
                        "From: Ann Sender <ann@example.test>\r\n"
                        "To: Bob <bob@example.test>\r\n"
                        "Cc: Cy <cy@example.test>\r\n"
                        "Subject: Test\r\n"
                        "Date: " + kDate + "\r\n"
                        "X-Priority:  3\r\n"
                        "X-MSMail-Priority: Normal\r\n"
                        "MIME-Version: 1.0\r\n"
                        "Content-Type: text/plain; charset=US-ASCII\r\n"
                        "\r\n"
                        "..first\r\nsecond\r\n..third\r\nlast\r\n"
                        ".\r\n"
                        "QUIT\r\n");
    EXPECT_EQ(log_->tasks(), (std::vector<int32_t>{1, 2, 10, 11, 12, 4, 6}));
}

TEST_F(SmtpCapture, EmptyContentTypeSendsNoMimeLines)
{
    smtp_->ContentType("");
    smtp_->MailBody("hi");
    smtp_->AddCustomHeader(".X-Dotted", "line one\nline two");
    const std::string wire = sendAndCapture();
    EXPECT_NE(wire.find(headers() + "..X-Dotted: line one\r\n line two\r\n\r\nhi\r\n.\r\nQUIT\r\n"), std::string::npos)
        << wire;
}

TEST_F(SmtpCapture, MultipartChunkLayoutOfEveryEncoding)
{
    const std::string b64 = random(5700, 1), uu = random(5000, 2), bin = crlfLines(40000, 3);
    // Lone CR and LF, which SMTP cannot carry as they are, and a quotation mark and a
    // backslash in the name.
    const std::string loose = "x\n.\r.\ny\r\n" + std::string(999, 'l') + "\r\n", looseName = "smtp \"cap\\\".bin";
    smtp_->MailBody("Body text");
    ASSERT_EQ(smtp_->AddAttachment(file("smtp_cap_b64.bin", b64), 2), 0);
    ASSERT_EQ(smtp_->AddAttachment(file("smtp_cap_uu.bin", uu), 3), 0);
    ASSERT_EQ(smtp_->AddAttachment(file("smtp_cap_empty.bin", ""), 2), 0);
    ASSERT_EQ(smtp_->AddAttachment(file("smtp_cap_bin.bin", bin), 7), 0);
    ASSERT_EQ(smtp_->AddAttachment(file(looseName, loose), 7), 0);
    const std::string wire = sendAndCapture();
    const std::string b = boundaryOf(wire);

    auto part = [&](const std::string& name, const char* token) {
        return "--" + b + "\r\n" + "Content-Type: application/octet-stream; name=\"" + name + "\"\r\n" +
               "Content-Transfer-Encoding: " + token + "\r\n" +
               "Content-Disposition: attachment; filename=\"" + name + "\"\r\n\r\n";
    };
    // Binary data in CR LF lines: a "." at a line start is doubled.
    std::string stuffedBin;
    for (size_t i = 0; i < bin.size(); ++i) {
        if (bin[i] == '.' && (i == 0 || bin[i - 1] == '\n'))
            stuffedBin += '.';
        stuffedBin += bin[i];
    }
    const std::string data = headers() +
                             "MIME-Version: 1.0\r\n"
                             "Content-Type: multipart/mixed;\r\n"
                             "        boundary=\"" + b + "\"\r\n"
                             "\r\n"
                             "This message is in MIME format. Since your mail reader does not understand\r\n"
                             "this format, some or all of this message may not be legible\r\n"
                             "\r\n"
                             "--" + b + "\r\n"
                             "Content-Type: text/plain; charset=\"ISO-8859-1\"\r\n"
                             "\r\n"
                             "Body text\r\n\r\n" +
                             part("smtp_cap_b64.bin", "base64") + chunkedBase64(b64) + "\r\n" +
                             part("smtp_cap_uu.bin", "x-uuencode") + chunkedUu(uu) + "\r\n" +
                             part("smtp_cap_empty.bin", "base64") + "\r\n" +
                             part("smtp_cap_bin.bin", "binary") + stuffedBin + "\r\n" +
                             part("smtp \\\"cap\\\\\\\".bin", "base64") + chunkedBase64(loose) + "\r\n" +
                             "--" + b + "--\r\n\r\n";
    const size_t start = wire.find("DATA\r\n") + 6;
    ASSERT_EQ(wire.substr(start), data + ".\r\nQUIT\r\n");
    EXPECT_EQ(countLines(chunkedBase64(b64)), 100u);
    EXPECT_EQ(countLines(chunkedUu(uu)), 50u + 50u + 12u + 1u);
    EXPECT_NE(stuffedBin.find("\r\n..\r\n"), std::string::npos);

    std::vector<std::tuple<int32_t, int32_t, int32_t>> attachmentEvents;
    for (const auto& e : log_->events) {
        if (e.task == 20 || e.task == 21)
            attachmentEvents.emplace_back(e.task, e.param1, e.param2);
    }
    using T = std::tuple<int32_t, int32_t, int32_t>;
    const auto n = static_cast<int32_t>(bin.size()), l = static_cast<int32_t>(loose.size());
    ASSERT_GT(n, 32000);
    ASSERT_LT(n, 64000);
    EXPECT_EQ(attachmentEvents, (std::vector<T>{T{20, 5700, 2850}, T{20, 5700, 5700}, T{21, 5700, 5700},
                                                T{20, 5000, 2250}, T{20, 5000, 4500}, T{20, 5000, 5000},
                                                T{21, 5000, 5000}, T{21, 0, 0}, T{20, n, 32000},
                                                T{20, n, n}, T{21, n, n}, T{20, l, l}, T{21, l, l}}));
    EXPECT_EQ(log_->events[4].text, "ATTACHMENT: Encoding " + ::testing::TempDir() + "smtp_cap_b64.bin ...");
}

TEST_F(SmtpCapture, DotsAtLineStartsInEncodedAttachments)
{
    // 14 bytes give a uuencoded line whose count character is "."; quoted-printable keeps
    // "." literal at line starts.
    ASSERT_EQ(smtp_->AddAttachment(file("smtp_cap_dot.uu", std::string(14, 'z')), 3), 0);
    ASSERT_EQ(smtp_->AddAttachment(file("smtp_cap_dot.txt", ".\r\n.hidden\r\n"), 1), 0);
    const std::string wire = sendAndCapture();
    EXPECT_NE(wire.find("\r\n\r\n.." + tolmail::codec::UuEncode(std::string(14, 'z')).substr(1, 21)),
              std::string::npos);
    EXPECT_NE(wire.find("\r\n\r\n..\r\n..hidden\r\n\r\n--"), std::string::npos) << wire;
}

TEST_F(SmtpCapture, PlainModeSendsThreeTransactionsForTwoAttachments)
{
    smtp_->UseMIME(false);
    smtp_->FromEmail(" ann@example.test ");
    smtp_->MailBody(".Hello");
    const std::string one = random(100, 4), two = "tiny";
    ASSERT_EQ(smtp_->AddAttachment(file("smtp_plain_one.bin", one), 2), 0);
    ASSERT_EQ(smtp_->AddAttachment(file("smtp_plain_two.txt", two), 1), 0);
    const std::string wire = sendAndCapture();

    const std::string hdr = headers("< ann@example.test >");
    const std::string envelope = "MAIL FROM:  ann@example.test \r\nRCPT TO: <bob@example.test>\r\nDATA\r\n";
    EXPECT_EQ(wire, helo() + envelope + hdr + "\r\n..Hello\r\n.\r\n" +
                        envelope + hdr + "\r\nbegin 777 smtp_plain_one.bin\r\n" + chunkedUu(one) + "end\r\n.\r\n" +
                        envelope + hdr + "\r\nbegin 777 smtp_plain_two.txt\r\n" + chunkedUu(two) + "end\r\n.\r\n" +
                        "QUIT\r\n");
    EXPECT_EQ(log_->tasks(), (std::vector<int32_t>{1, 2, 10, 11, 12, 11, 20, 21, 12, 11, 20, 21, 12, 4, 6}));
}


TEST_F(SmtpCapture, BodyCannotForgeAPart)
{
    // A sender who knows the clock writes the boundary a clock-made one would have, for
    // this second and the next two, followed by a part of its own.
    std::string body = "Hello\r\n";
    const std::time_t now = std::time(nullptr);
    for (std::time_t t = now; t <= now + 2; ++t) {
        const std::string guess = "----= _NextPart_" + tolmail::codec::Base64Encode(
                                                           tolmail::platform::MailDateText(tolmail::platform::LocalAt(t)));
        body += "--" + guess.substr(0, guess.size() - 2) + "\r\nContent-Type: text/html\r\n\r\n<forged>\r\n";
    }
    smtp_->MailBody(body);
    ASSERT_EQ(smtp_->AddAttachment(file("smtp_cap_forge.txt", "real\r\n"), 2), 0);
    const std::string wire = sendAndCapture();
    const std::string delimiter = "\r\n--" + boundaryOf(wire);
    size_t lines = 0;
    for (size_t at = 0; (at = wire.find(delimiter, at)) != std::string::npos; at += delimiter.size())
        ++lines;
    EXPECT_EQ(lines, 3u);  // the text, the attachment, the closing line
}

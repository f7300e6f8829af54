// The international mode: header composition and attachment part headers, what a
// recipient name may hold, and the cross-check with code no one here wrote: Python's
// email package reads back every name, subject and attachment byte of a saved message,
// and of the same message delivered through the real Postfix.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "smtp/attachment_headers.h"
#include "smtp/headers.h"
#include "smtp/postfix_files.h"
#include "support/servers.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/security_mode.h"
#include "tolmail/smtp_codes.h"

namespace fs = std::filesystem;
using namespace tolmail::smtp;
using tolmail::TolvanSMTP;
using tolmail::testing::Env;

namespace {

tolmail::platform::LocalTime fixedTime()
{
    tolmail::platform::LocalTime t;
    t.year = 2026, t.month = 12, t.day = 6, t.hour = 9, t.minute = 4, t.second = 5;
    return t;
}

/// Every line of a header block, CR LF not counted, is at most 76 characters.
void expectShortLines(const std::string& block)
{
    for (size_t start = 0, end; (end = block.find("\r\n", start)) != std::string::npos; start = end + 2)
        EXPECT_LE(end - start, 76u) << block.substr(start, end - start);
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes)
        out += {digits[c >> 4], digits[c & 15]};
    return out;
}

void spit(const fs::path& p, const std::string& data)
{
    std::ofstream(p, std::ios::binary) << data;
}

/// Runs read_message.py on `file`; its output, or "" when it failed.
std::string pythonReads(const fs::path& file)
{
    const fs::path out = file.string() + ".seen";
    const std::string command = "/usr/bin/python3 " TOLMAIL_TESTS_DIR "/smtp/read_message.py '" + file.string() +
                                "' > '" + out.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    const std::string seen = postfix_files::Slurp(out);
    EXPECT_EQ(status, 0) << seen;
    return seen;
}

} // namespace

TEST(InternationalHeaders, ComposedLines)
{
    MessageFields plain;
    plain.FromName = "Ann Sender";
    plain.FromEmail = "ann@example.test";
    plain.Subject = "Hello, world";
    plain.ReplyTo = "Replies <r@example.test>";
    plain.recipients = {{"Bob", "bob@example.test", 1}, {"Di", "di@example.test", 1}, {"Cy", "cy@example.test", 2}};
    plain.CustomHeaders = "X-Note: a note\r\n";
    plain.CustomFields = {{"X-Note", "a note"}};
    MessageFields ascii = plain;
    ascii.InternationalText = true;
    // Text of printable ASCII is written as the plain composition writes it.
    EXPECT_EQ(ComposeHeaders(ascii, fixedTime()), ComposeHeaders(plain, fixedTime()));

    const struct {
        const char* name;
        void (*change)(MessageFields&);
        std::string line;
    } cases[] = {
        {"a name beyond ASCII", [](MessageFields& m) { m.FromName = "Zoë Ångström"; },
         "From: =?UTF-8?B?Wm/DqyDDhW5nc3Ryw7Zt?= <ann@example.test>\r\n"},
        {"an empty name", [](MessageFields& m) { m.FromName = ""; }, "From:  <ann@example.test>\r\n"},
        {"specials quoted", [](MessageFields& m) { m.recipients[0].Name = "Smith, \"Bob\" Jr."; },
         "To: \"Smith, \\\"Bob\\\" Jr.\" <bob@example.test>,Di <di@example.test>\r\n"},
        {"specials beside letters beyond ASCII", [](MessageFields& m) { m.recipients[2].Name = "Müller, Hans"; },
         "Cc: =?UTF-8?B?TcO8bGxlciw=?= Hans <cy@example.test>\r\n"},
        {"a subject's plain words stay", [](MessageFields& m) { m.Subject = "Re: 中文 test"; },
         "Subject: Re: =?UTF-8?B?5Lit5paH?= test\r\n"},
        {"reply-to's phrase", [](MessageFields& m) { m.ReplyTo = "\"Zoë, team\" <r@example.test>"; },
         "Reply-To: =?UTF-8?B?Wm/Dqyw=?= team <r@example.test>\r\n"},
        {"a custom value", [](MessageFields& m) { m.CustomFields = {{"X-Note", "Café ☕"}}; },
         "X-Note: =?UTF-8?B?Q2Fmw6kg4piV?=\r\n"},
        {"Q where it is shorter", [](MessageFields& m) { m.Subject = "Zürichsee-Schifffahrtsgesellschaft"; },
         "Subject: =?UTF-8?Q?Z=C3=BCrichsee-Schifffahrtsgesellschaft?=\r\n"},
        {"a line break in a value", [](MessageFields& m) { m.Subject = "Zoë\r\nBcc: x@y"; },
         "Subject: =?UTF-8?Q?Zo=C3=AB?= Bcc: x@y\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MessageFields m = ascii;
        c.change(m);
        const std::string block = ComposeHeaders(m, fixedTime());
        EXPECT_NE(block.find(c.line), std::string::npos) << block;
    }

    // Long names fold between entries and before "<", never inside an address.
    MessageFields many = ascii;
    many.recipients.clear();
    for (int i = 0; i < 4; ++i)
        many.recipients.push_back({"王小明 Иван Петров Γιώργος", "person" + std::to_string(i) + "@example.test", 1});
    many.FromName.clear();
    for (int i = 0; i < 10; ++i)
        many.FromName += "😀";  // one word up to column 74: the address goes on a line of its own
    const std::string block = ComposeHeaders(many, fixedTime());
    expectShortLines(block);
    EXPECT_NE(block.find(">,\r\n =?UTF-8?"), std::string::npos) << block;
    EXPECT_NE(block.find("?=\r\n <ann@example.test>\r\n"), std::string::npos) << block;
}

TEST(InternationalHeaders, AttachmentNames)
{
    const std::string longName = "Ελληνικά αρχεία με πολύ μεγάλο όνομα για να χρειαστεί συνέχεια.txt";
    const struct {
        std::string name;
        std::vector<std::string> lines;
    } cases[] = {
        // The plain composition's bytes, quotes escaped, for a name of printable ASCII.
        {"report \"x\".pdf",
         {"Content-Type: application/octet-stream; name=\"report \\\"x\\\".pdf\"\r\n",
          "Content-Disposition: attachment; filename=\"report \\\"x\\\".pdf\"\r\n"}},
        {"отчёт.txt",
         {"Content-Type: application/octet-stream;\r\n name=\"=?UTF-8?B?0L7RgtGH0ZHRgi50eHQ=?=\"\r\n",
          "Content-Disposition: attachment;\r\n filename*=UTF-8''%D0%BE%D1%82%D1%87%D1%91%D1%82.txt\r\n"}},
        {longName, {" filename*0*=UTF-8''%CE%95", ";\r\n filename*1*=", ";\r\n filename*2*="}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string lines = AttachmentHeaderLines(c.name, "base64", true);
        for (const auto& line : c.lines)
            EXPECT_NE(lines.find(line), std::string::npos) << lines;
        expectShortLines(lines);
    }
}

TEST(InternationalHeaders, RecipientNames)
{
    auto smtp = TolvanSMTP::Create();
    std::string sixtyFour;
    for (int i = 0; i < 64; ++i)
        sixtyFour += "名";
    const struct {
        std::string name;
        int32_t plain, international;
    } names[] = {
        {"Zoë Ångström", tolmail::smtp_result::ArgumentRefused, tolmail::smtp_result::Ok},
        {"O'Brien, \"Bob\"", tolmail::smtp_result::ArgumentRefused, tolmail::smtp_result::Ok},
        {sixtyFour, tolmail::smtp_result::ArgumentRefused, tolmail::smtp_result::Ok},
        {sixtyFour + "x", tolmail::smtp_result::ArgumentRefused, tolmail::smtp_result::ArgumentRefused},
        {"tab\there", tolmail::smtp_result::ArgumentRefused, tolmail::smtp_result::ArgumentRefused},
        {"cut \xC3", tolmail::smtp_result::ArgumentRefused, tolmail::smtp_result::ArgumentRefused},
        {"", tolmail::smtp_result::ArgumentRefused, tolmail::smtp_result::ArgumentRefused},
    };
    for (const auto& n : names) {
        SCOPED_TRACE(n.name);
        smtp->InternationalText(false);
        EXPECT_EQ(smtp->AddRecipients(n.name, "a@example.test", 1), n.plain);
        smtp->InternationalText(true);
        EXPECT_EQ(smtp->AddRecipients(n.name, "a@example.test", 1), n.international);
    }
}

TEST(InternationalHeaders, PlainModeDeclaresItsTextInEachMessage)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("intl-plain-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    spit(dir / "отчёт.txt", "x");
    const auto count = [](const std::string& text, const std::string& piece) {
        size_t n = 0;
        for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
            ++n;
        return n;
    };
    auto smtp = TolvanSMTP::Create();
    smtp->InternationalText(true);
    smtp->UseMIME(false);
    smtp->FromEmail("zoe@example.test");
    smtp->Subject("Привет");
    smtp->MailBody("Grüße");
    ASSERT_EQ(smtp->AddAttachment((dir / "отчёт.txt").string(), 2), tolmail::smtp_result::Ok);
    ASSERT_EQ(smtp->SaveMessage((dir / "saved.eml").string()), tolmail::file_result::Ok);
    const std::string text = postfix_files::Slurp(dir / "saved.eml");
    // The text and the uuencoded file are two messages; each declares its text.
    const std::string declared = "Subject: =?UTF-8?B?0J/RgNC40LLQtdGC?=\r\n";
    const std::string body = "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                             "Content-Transfer-Encoding: 8bit\r\n\r\n";
    EXPECT_EQ(count(text, declared), 2u) << text;
    EXPECT_EQ(count(text, body + "Grüße\r\n"), 1u) << text;
    EXPECT_EQ(count(text, body + "begin 777 отчёт.txt\r\n"), 1u) << text;
    fs::remove_all(dir);
}

namespace {

struct Attached {
    std::string name;
    int32_t encoding;
    std::string bytes;
};

const char* const kSubject = "Grüße aus Zürich – 中文 – Привет – Ελληνικά – 😀 and a long tail of words";
const char* const kText = "Grüße – 你好 – Привет";

/// The component composing the cross-checked message; the files are made in `dir`.
tolmail::Ref<TolvanSMTP> composed(const fs::path& dir, const std::vector<Attached>& files,
                                  const std::vector<std::pair<std::string, std::string>>& people)
{
    auto smtp = TolvanSMTP::Create();
    smtp->InternationalText(true);
    smtp->FromEmail("zoe@example.test");
    smtp->FromName("Zoë Ångström");
    smtp->Subject(kSubject);
    smtp->MailBody(kText);
    smtp->DateTime("Sun, 06 Dec 2026 09:04:05 +0000");
    for (size_t i = 0; i < people.size(); ++i)
        EXPECT_EQ(smtp->AddRecipients(people[i].first, people[i].second, i % 2 ? 2 : 1), tolmail::smtp_result::Ok);
    EXPECT_EQ(smtp->AddCustomHeader("X-Note", "Café ☕ «quoted»"), tolmail::smtp_result::Ok);
    for (const auto& f : files) {
        spit(dir / f.name, f.bytes);
        EXPECT_EQ(smtp->AddAttachment((dir / f.name).string(), f.encoding), tolmail::smtp_result::Ok);
    }
    return smtp;
}

std::vector<Attached> attachments()
{
    std::mt19937 rng(2047);
    std::string random(7000, '\0');
    for (char& c : random)
        c = static_cast<char>(rng());
    return {
        {"Résumé – 2026.pdf", 2, random},
        {"отчёт.txt", 1, "строка один\r\n.точка\r\nzwei Zeilen ü\r\n"},
        {"a \"quoted\", name.txt", 3, random.substr(0, 5000)},
        {"中文 😀 名前.bin", 0, "binary line\r\n.dot\r\nlone\rCR\r\n"},
        {"Ελληνικά αρχεία με πολύ μεγάλο όνομα για να χρειαστεί συνέχεια.txt", 2, "long\r\n"},
    };
}

std::string expectedReading(const std::vector<std::pair<std::string, std::string>>& people,
                            const std::vector<Attached>& files)
{
    std::string seen = std::string("subject=") + kSubject + "\nfrom=Zoë Ångström|zoe@example.test\n";
    for (const char* field : {"to", "cc"}) {
        for (size_t i = field[0] == 't' ? 0 : 1; i < people.size(); i += 2)
            seen += std::string(field) + "=" + people[i].first + "|" + people[i].second + "\n";
    }
    seen += "x-note=Café ☕ «quoted»\n";
    for (const auto& f : files)
        seen += "attachment=" + f.name + "|" + hex(f.bytes) + "\n";
    return seen + "text=" + kText + "\n";
}

const std::vector<std::pair<std::string, std::string>> kPeople = {
    {"王小明", "wang@example.test"},
    {"Иван Петров", "ivan@example.test"},
    {"Γιώργος Παπαδόπουλος", "giorgos@example.test"},
    {"Smith, \"Bob\"", "bob@example.test"},
    {"😀 Emoji Fan", "fan@example.test"},
    {"José Müller-Lüdenscheidt", "jose@example.test"},
};

} // namespace

TEST(InternationalCrossCheck, PythonReadsBackWhatTheComponentSaved)
{
    if (::access("/usr/bin/python3", X_OK) != 0)
        GTEST_SKIP() << "python3 is needed to read the message back";
    const fs::path dir = fs::path(::testing::TempDir()) / ("intl-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::vector<Attached> files = attachments();
    auto smtp = composed(dir, files, kPeople);
    const fs::path saved = dir / "saved.eml";
    ASSERT_EQ(smtp->SaveMessage(saved.string()), tolmail::file_result::Ok);
    expectShortLines(postfix_files::Slurp(saved).substr(0, postfix_files::Slurp(saved).find("\r\n\r\n") + 2));
    EXPECT_EQ(pythonReads(saved), expectedReading(kPeople, files));
    fs::remove_all(dir);
}

TEST(InternationalCrossCheck, PostfixDeliversWhatPythonReadsTheSame)
{
    TOLMAIL_NEED_ENV("TOLMAIL_SMTP_PORT");
    TOLMAIL_NEED_ENV("TOLMAIL_CA_FILE");
    if (::access("/usr/bin/python3", X_OK) != 0)
        GTEST_SKIP() << "python3 is needed to read the message back";
    const std::string domain = Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test");
    const fs::path newDir =
        fs::path(Env("TOLMAIL_MAIL_ROOT", Env("TOLMAIL_RUN_DIR", "/tmp/tolmail-run") + "/mail")) / "roundtrip" /
        "Maildir" / "new";
    const fs::path dir = fs::path(::testing::TempDir()) / ("intl-postfix-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    // Every name reaches the one mailbox the server has for tests.
    std::vector<std::pair<std::string, std::string>> people = kPeople;
    for (auto& person : people)
        person.second = "roundtrip@" + domain;
    const std::vector<Attached> files = attachments();
    auto smtp = composed(dir, files, people);
    const std::string mark = "intl-" + std::to_string(getpid()) + "-" + std::to_string(std::random_device()());
    smtp->AddCustomHeader("X-Run", mark);
    smtp->Host(Env("TOLMAIL_SMTP_HOST", "127.0.0.1"));
    smtp->Port(static_cast<int16_t>(std::stoi(Env("TOLMAIL_SMTP_PORT"))));
    smtp->Security(tolmail::security_mode::WhenOffered);
    smtp->CAFile(Env("TOLMAIL_CA_FILE"));
    ASSERT_EQ(smtp->Send(), tolmail::smtp_result::Ok) << smtp->SMTPError();
    smtp->Disconnect();

    // Delivery is asynchronous: wait, within bounds, for the file with our mark.
    fs::path delivered;
    for (int i = 0; i < 200 && delivered.empty(); ++i) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(newDir, ec)) {
            if (postfix_files::Slurp(entry.path()).find("X-Run: " + mark) != std::string::npos)
                delivered = entry.path();
        }
        if (delivered.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(delivered.empty()) << "no message in " << newDir;
    const fs::path copy = dir / "delivered.eml";
    fs::copy_file(delivered, copy);
    fs::remove(delivered);
    EXPECT_EQ(pythonReads(copy), expectedReading(people, files));
    fs::remove_all(dir);
}

// A real delivery through Postfix with `tolmail send`: every attachment of every
// encoding, parsed by Python's email package, decodes to the original bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "smtp/postfix_files.h"
#include "support/servers.h"

namespace fs = std::filesystem;
using tolmail::testing::Env;

namespace {

const char* const kPython = "/usr/bin/python3";

void spit(const fs::path& p, const std::string& data)
{
    std::ofstream(p, std::ios::binary) << data;
}

std::string randomBytes(size_t n, std::mt19937& rng)
{
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

std::string dottedText()
{
    return ".starts with a dot\n..two dots\n.\nplain line\r\n.\r\nend without newline.";
}

std::string eightBitCrLfLines(std::mt19937& rng)
{
    std::string s;
    for (int line = 0; line < 300; ++line) {
        std::string text = line % 7 == 0 ? "." : "";
        for (size_t n = rng() % 990; n > 0; --n) {
            char c;
            do
                c = static_cast<char>(rng() & 0xFF);
            while (c == '\r' || c == '\n');
            text += c;
        }
        s += text + "\r\n";
    }
    return s;
}

} // namespace

TEST(SmtpPostfixDelivery, EveryEncodingArrivesIntact)
{
    TOLMAIL_NEED_ENV("TOLMAIL_SMTP_PORT");
    TOLMAIL_NEED_ENV("TOLMAIL_CA_FILE");  // the server offers STARTTLS with the test authority's certificate
    const std::string domain = Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test");
    const fs::path mailRoot =
        Env("TOLMAIL_MAIL_ROOT", Env("TOLMAIL_RUN_DIR", "/tmp/tolmail-run") + "/mail");
    const fs::path newDir = mailRoot / "roundtrip" / "Maildir" / "new";
    const fs::path cli = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tolmail";
    ASSERT_TRUE(fs::exists(cli)) << cli;

    const fs::path dir = fs::path(::testing::TempDir()) / ("smtp-delivery-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::mt19937 rng(2026);
    spit(dir / "body.txt", "Hello,\n.this line starts with a dot\nBye\n");
    const std::vector<std::pair<std::string, std::string>> groups = {
        {"base64", "b64"}, {"quoted-printable", "qp"}, {"x-uuencode", "uu"}};
    const std::string subject = "delivery " + std::to_string(getpid()) + "-" + std::to_string(rng());
    std::vector<std::string> args = {cli.string(), "send", "--server", Env("TOLMAIL_SMTP_HOST", "127.0.0.1"),
                                     "--port", Env("TOLMAIL_SMTP_PORT"), "--ca-file", Env("TOLMAIL_CA_FILE"),
                                     "--from", "sender@" + domain,
                                     "--to", "Round Trip <roundtrip@" + domain + ">", "--subject", subject,
                                     "--body", (dir / "body.txt").string(), "--quiet"};
    std::vector<std::string> checks;
    for (const auto& [encoding, tag] : groups) {
        const std::string random = "random." + tag, text = "dotted." + tag;
        spit(dir / random, randomBytes(70001, rng));
        spit(dir / text, dottedText());
        args.insert(args.end(), {"--attach-encoding", encoding, "--attach", (dir / random).string(), "--attach",
                                 (dir / text).string()});
        checks.push_back(random + "=" + (dir / random).string());
        checks.push_back(text + "=" + (dir / text).string());
    }
    spit(dir / "lines.bin", eightBitCrLfLines(rng));
    // Lone line ends and dots after them, which binary cannot carry, under a name with
    // a quotation mark and a backslash.
    const std::string loose = "loose \"dotted\\\".bin";
    spit(dir / loose, dottedText() + "\r" + std::string(1200, 'w'));
    args.insert(args.end(), {"--attach-encoding", "binary", "--attach", (dir / "lines.bin").string(), "--attach",
                             (dir / loose).string()});
    checks.push_back("lines.bin=" + (dir / "lines.bin").string());
    checks.push_back(loose + "=" + (dir / loose).string());

    ASSERT_EQ(postfix_files::RunProgram(args), 0);

    // Delivery is asynchronous: wait, within bounds, for the file with our subject.
    fs::path delivered;
    for (int i = 0; i < 200 && delivered.empty(); ++i) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(newDir, ec)) {
            if (postfix_files::Slurp(entry.path()).find("Subject: " + subject) != std::string::npos)
                delivered = entry.path();
        }
        if (delivered.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(delivered.empty()) << "no message in " << newDir;

    std::vector<std::string> check = {kPython,
                                      (fs::path(TOLMAIL_TESTS_DIR "/smtp") / "check_delivery.py").string(),
                                      delivered.string()};
    check.insert(check.end(), checks.begin(), checks.end());
    EXPECT_EQ(postfix_files::RunProgram(check), 0);
    fs::remove(delivered);
    fs::remove_all(dir);
}

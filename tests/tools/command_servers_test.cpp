// The tolmail command against the real Postfix and Dovecot of the test run: a message
// sent, delivered, fetched into a Maildir and deleted; and the exit statuses that only a
// real server gives (a recipient it does not know, a password it refuses).
#include <gtest/gtest.h>

#include <sysexits.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "support/command_process.h"
#include "support/servers.h"

namespace tolmail::cli {
namespace {

namespace fs = std::filesystem;
using tolmail::testing::Env;

// Its mailbox is this test's alone (scripts/servers/common.sh makes it).
constexpr const char* kUser = "command";

class CommandServers : public ::testing::Test {
protected:
    void SetUp() override
    {
        TOLMAIL_NEED_ENV("TOLMAIL_SMTP_PORT");
        TOLMAIL_NEED_ENV("TOLMAIL_CA_FILE");
        TOLMAIL_NEED_POP3_SERVER();
        root_ = fs::temp_directory_path() / ("tolmail-command-servers-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        tolmail::testing::ClearMaildir(kUser);
    }
    void TearDown() override
    {
        if (!root_.empty())
            fs::remove_all(root_);
    }

    struct Outcome {
        int exitCode;
        std::string err;
    };

    Outcome Run(std::vector<std::string> args, const std::string& input = "/dev/null")
    {
        command::Launch launch(std::move(args), {"TOLMAIL_PASSWORD=" + Env("TOLMAIL_POP3_PASSWORD", "tolmail-pass"),
                                                 "HOME=" + root_.string(), "XDG_CONFIG_HOME=" + root_.string()});
        launch.input = input;
        launch.errors = (root_ / "err").string();
        return {command::ExitCode(command::Wait(command::Start(launch))), command::Contents(root_ / "err")};
    }

    /// The plain port offers STARTTLS with a certificate of the test authority.
    std::vector<std::string> Smtp(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"send", "-q", "-s", Env("TOLMAIL_SMTP_HOST", "127.0.0.1"), "-p",
                                   Env("TOLMAIL_SMTP_PORT"), "--ca-file", Env("TOLMAIL_CA_FILE")});
        return args;
    }
    /// The ports that want a log-in, as their own user: "127.0.0.1", as "localhost" may be
    /// ::1, where nothing listens.
    std::vector<std::string> Submission(const char* portVariable, std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"send", "-q", "-s", "127.0.0.1", "-p", Env(portVariable), "-u",
                                   Env("TOLMAIL_SASL_USER"), "-f", Env("TOLMAIL_SASL_USER") + "@" +
                                   Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test")});
        return args;
    }
    std::vector<std::string> Pop3(std::vector<std::string> args) const
    {
        // The test server's certificate comes from the test authority.
        args.insert(args.begin(), {"fetch", "-q", "-s", Env("TOLMAIL_POP3_HOST", "127.0.0.1"), "-p",
                                   Env("TOLMAIL_POP3_PORT"), "-u", kUser, "--ca-file", Env("TOLMAIL_CA_FILE")});
        return args;
    }

    /// Messages waiting in the user's Maildir at the server, after Postfix delivered `count`.
    static size_t AwaitDelivery(size_t count)
    {
        size_t found = 0;
        for (int tries = 0; tries < 300 && found < count; ++tries) {
            found = 0;
            std::error_code ignored;
            for (const char* sub : {"/new", "/cur"})
                for (const auto& entry :
                     fs::directory_iterator(tolmail::testing::Pop3FromEnv().mailRoot + "/" + kUser + "/Maildir" + sub,
                                            ignored)) {
                    (void)entry;
                    ++found;
                }
            if (found < count)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return found;
    }

    fs::path root_;
};

TEST_F(CommandServers, SentFetchedIntoAMaildirAndDeletedWithEveryHeaderKept)
{
    const std::string domain = '@' + Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test");  // '@': GCC 12 bug 105651
    const fs::path attachment = root_ / "report.bin";
    std::ofstream(attachment, std::ios::binary) << std::string("\0\x01\r\n.\xff binary", 14);
    const fs::path ready = root_ / "ready.eml";
    std::ofstream(ready) << "From: Ann <ann" << domain << ">\nTo: \"Smith, Ann\" <" << kUser << domain
                         << ">\nBcc: Secret <" << kUser << domain << ">\nSubject: composed\n\n.a dot line\n";

    ASSERT_EQ(Run(Smtp({"-f", "ann" + domain, "--to", std::string(kUser) + domain, "-j", "from the command", "-a",
                        attachment.string()}))
                  .exitCode,
              EX_OK);
    ASSERT_EQ(Run(Smtp({"-t", "--message", ready.string()})).exitCode, EX_OK);
    ASSERT_EQ(AwaitDelivery(2), 2u);

    const fs::path maildir = root_ / "Maildir", saved = root_ / "saved";
    fs::create_directory(saved);
    const Outcome fetched = Run(Pop3({"--maildir", maildir.string(), "--save-dir", saved.string(), "--delete"}));
    ASSERT_EQ(fetched.exitCode, EX_OK) << fetched.err;
    EXPECT_EQ(AwaitDelivery(0), 0u) << "deleted at the server";

    std::string delivered;
    for (const auto& entry : fs::directory_iterator(maildir / "new"))
        delivered += command::Contents(entry.path());
    for (const char* wanted : {"Subject: from the command\n", "Subject: composed\n", "\n.a dot line\n",
                               "Date:", "Received:"})
        EXPECT_NE(delivered.find(wanted), std::string::npos) << wanted;
    EXPECT_EQ(delivered.find("Secret"), std::string::npos) << "a Bcc field reached the mailbox";
    EXPECT_EQ(delivered.find('\r'), std::string::npos) << "Maildir files have LF line ends";
    EXPECT_EQ(command::Contents(saved / "report.bin"), command::Contents(attachment));
}

// Names as people give them come back as they were given, with the files' bytes.
TEST_F(CommandServers, InternationalNamesComeBackAsGiven)
{
    const std::string domain = '@' + Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test");  // '@': GCC 12 bug 105651
    const fs::path sent = root_ / "sent";
    fs::create_directory(sent);
    const std::vector<std::pair<std::string, std::string>> files{
        {"R\xc3\xa9sum\xc3\xa9 \xe2\x80\x93 2026.pdf", std::string("%PDF-1.4\n\0\xff\r\n.end", 17)},
        {"\xd0\xbe\xd1\x82\xd1\x87\xd1\x91\xd1\x82.txt", "\xd0\x98\xd1\x82\xd0\xbe\xd0\xb3\n"}};
    std::vector<std::string> args{"-f", "ann" + domain, "--to", std::string(kUser) + domain, "-j",
                                  "Gr\xc3\xbc\xc3\x9f" "e"};
    for (const auto& [name, bytes] : files) {
        std::ofstream(sent / name, std::ios::binary) << bytes;
        args.insert(args.end(), {"-a", (sent / name).string()});
    }
    ASSERT_EQ(Run(Smtp(args)).exitCode, EX_OK);
    ASSERT_EQ(AwaitDelivery(1), 1u);

    const fs::path saved = root_ / "saved";
    fs::create_directory(saved);
    const Outcome fetched = Run(Pop3({"--save-dir", saved.string(), "--delete"}));
    ASSERT_EQ(fetched.exitCode, EX_OK) << fetched.err;
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(command::Contents(saved / name), bytes) << name;
}

TEST_F(CommandServers, SentOverTlsWithALogInThroughTheSubmissionAndImplicitPorts)
{
    TOLMAIL_NEED_ENV("TOLMAIL_SUBMISSION_PORT");
    TOLMAIL_NEED_ENV("TOLMAIL_SMTPS_PORT");
    TOLMAIL_NEED_ENV("TOLMAIL_SASL_USER");
    const std::string to = std::string(kUser) + "@" + Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test");
    const fs::path password = root_ / "password", attachment = root_ / "data.bin";
    std::ofstream(password) << Env("TOLMAIL_SASL_PASSWORD") << "\n";
    std::ofstream(attachment, std::ios::binary) << std::string("\0\x01\r\n.\xff over TLS", 15);
    const struct {
        const char* mode;
        const char* port;
    } cases[] = {{"starttls", "TOLMAIL_SUBMISSION_PORT"}, {"implicit", "TOLMAIL_SMTPS_PORT"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const Outcome sent = Run(Submission(c.port, {"--tls", c.mode, "--ca-file", Env("TOLMAIL_CA_FILE"),
                                                     "--password-file", password.string(), "--to", to, "-j",
                                                     std::string("sent with --tls ") + c.mode, "-a",
                                                     attachment.string()}));
        EXPECT_EQ(sent.exitCode, EX_OK) << sent.err;
    }
    ASSERT_EQ(AwaitDelivery(2), 2u);
    const fs::path maildir = root_ / "Maildir", saved = root_ / "saved";
    fs::create_directory(saved);
    const Outcome fetched = Run(Pop3({"--maildir", maildir.string(), "--save-dir", saved.string(), "--delete"}));
    ASSERT_EQ(fetched.exitCode, EX_OK) << fetched.err;
    std::string delivered;
    size_t copies = 0;
    for (const auto& entry : fs::recursive_directory_iterator(saved))
        if (entry.is_regular_file() && command::Contents(entry.path()) == command::Contents(attachment))
            ++copies;
    for (const auto& entry : fs::directory_iterator(maildir / "new"))
        delivered += command::Contents(entry.path());
    for (const char* wanted : {"Subject: sent with --tls starttls\n", "Subject: sent with --tls implicit\n"})
        EXPECT_NE(delivered.find(wanted), std::string::npos) << wanted;
    EXPECT_EQ(copies, 2u) << "each attachment arrived intact";
}

TEST_F(CommandServers, ExitStatusesOnlyARealServerGives)
{
    TOLMAIL_NEED_ENV("TOLMAIL_SUBMISSION_PORT");
    const std::string domain = '@' + Env("TOLMAIL_MAIL_DOMAIN", "tolmail.test");  // '@': GCC 12 bug 105651
    const fs::path body = root_ / "body.txt";
    std::ofstream(body) << "text\n";
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {"unknown recipient", Smtp({"-f", "ann" + domain, "--to", "nobody-here" + domain, "-b", body.string()}),
         EX_NOUSER, "550"},
        {"refused password", Pop3({"--password-command", "echo wrong", "--list"}), EX_NOPERM, "log-in"},
        {"certificate of an unknown authority",
         {"fetch", "-q", "-s", Env("TOLMAIL_POP3_HOST", "127.0.0.1"), "-p", Env("TOLMAIL_POP3_PORT"), "-u", kUser},
         EX_UNAVAILABLE, "TLS failed: certificate verification failed"},
        {"nothing listening", Smtp({"-f", "ann" + domain, "--to", kUser + domain, "-b", body.string(), "-p", "1"}),
         EX_NOHOST, "Connection refused"},
        {"test authority not trusted",
         {"send", "-q", "-s", "127.0.0.1", "-p", Env("TOLMAIL_SMTP_PORT"), "-f", "ann" + domain, "--to",
          kUser + domain, "-b", body.string()},
         EX_UNAVAILABLE, "TLS failed: certificate verification failed"},
        {"refused SMTP password",
         Submission("TOLMAIL_SUBMISSION_PORT", {"--tls", "starttls", "--ca-file", Env("TOLMAIL_CA_FILE"),
                                                "--password-command", "echo wrong", "--to", kUser + domain, "-b",
                                                body.string()}),
         EX_NOPERM, "535"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome run = Run(c.args);
        EXPECT_EQ(run.exitCode, c.status) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
}

TEST_F(CommandServers, StlsAndImplicitTlsFetchTheMessageIntact)
{
    TOLMAIL_NEED_ENV("TOLMAIL_POP3S_PORT");
    const struct {
        const char* mode;
        std::string port;
    } cases[] = {{"starttls", Env("TOLMAIL_POP3_PORT")}, {"implicit", Env("TOLMAIL_POP3S_PORT")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        ASSERT_TRUE(tolmail::testing::DeliverToMaildir(kUser, "Subject: sealed\n\nfirst line\n.second\n"));
        const fs::path saved = root_ / c.mode;
        fs::create_directory(saved);
        const Outcome run = Run(Pop3({"--tls", c.mode, "-p", c.port, "--save-dir", saved.string(), "--delete"}));
        ASSERT_EQ(run.exitCode, EX_OK) << run.err;
        EXPECT_EQ(command::Contents(saved / "message-1.txt"), "first line\r\n.second\r\n");
    }
}

TEST_F(CommandServers, NewFetchesOnlyWhatNoEarlierRunSaved)
{
    const auto deliver = [](const char* subject) {
        return tolmail::testing::DeliverToMaildir(kUser, std::string("Subject: ") + subject + "\n\n" + subject + "\n");
    };
    ASSERT_TRUE(deliver("first"));
    const struct {
        const char* deliverBefore;  // nullptr: nothing new arrives
        std::vector<std::string> saved;
    } runs[] = {{nullptr, {"first\r\n"}}, {nullptr, {}}, {"second", {"second\r\n"}}};
    int number = 0;
    for (const auto& run : runs) {
        SCOPED_TRACE(++number);
        if (run.deliverBefore) {
            ASSERT_TRUE(deliver(run.deliverBefore));
        }
        const fs::path saved = root_ / ("run" + std::to_string(number));
        fs::create_directory(saved);
        const Outcome fetched = Run(Pop3({"--new", "--save-dir", saved.string()}));
        ASSERT_EQ(fetched.exitCode, EX_OK) << fetched.err;
        std::vector<std::string> texts;
        for (const auto& entry : fs::directory_iterator(saved))
            texts.push_back(command::Contents(entry.path()));
        EXPECT_EQ(texts, run.saved);
    }
    // The ids are kept per user and server, owner-only, under the state directory.
    const fs::path state = root_ / ".local/state/tolmail";
    ASSERT_TRUE(fs::is_directory(state));
    EXPECT_EQ(fs::status(state).permissions() & fs::perms::group_all, fs::perms::none);
}

} // namespace
} // namespace tolmail::cli

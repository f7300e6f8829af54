// tolmail --verbose run whole: the dialogue on standard error, made safe to print,
// with the password masked, and nothing of it without the option.
#include <gtest/gtest.h>

#include <sysexits.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/command_process.h"
#include "support/loopback_peer.h"

namespace {

namespace fs = std::filesystem;
using namespace loopback;

struct Outcome {
    int exitCode = -1;
    std::string err;
};

class VerboseCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string base = (fs::temp_directory_path() / "tolmail-verbose-XXXXXX").string();
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        root_ = base;
        std::ofstream(root_ / "body.txt") << "text\n";
    }
    void TearDown() override { fs::remove_all(root_); }

    Outcome Run(std::vector<std::string> args)
    {
        command::Launch launch(std::move(args), {"TOLMAIL_PASSWORD=pass-Word-9", "TMPDIR=" + root_.string()});
        launch.errors = (root_ / "err").string();
        const pid_t pid = command::Start(std::move(launch));
        Outcome outcome;
        outcome.exitCode = command::ExitCode(pid < 0 ? -1 : command::Wait(pid));
        outcome.err = command::Contents(root_ / "err");
        return outcome;
    }

    fs::path root_;
};

Script Accepting(const std::string& greeting)
{
    Script script = Replies({greeting, "250 hello\r\n", "250 sender ok\r\n", "250 recipient ok\r\n", "354 go\r\n"});
    script.insert(script.end(), {HearData(), Say("250 queued\r\n"), Hear(), Say("221 bye\r\n")});
    return script;
}

TEST_F(VerboseCommand, DialogueOnStandardErrorOnlyWhenAskedAndNeverThePassword)
{
    const std::string body = (root_ / "body.txt").string();
    const struct {
        const char* name;
        Script server;
        std::vector<std::string> args;  // before the server's address
        std::vector<std::string> says;  // whole lines of standard error, in this order
    } cases[] = {
        {"send -v -q", Accepting("220 \x1b[2Jready\r\n"),
         {"send", "-v", "-q", "-f", "a@example.net", "--to", "b@example.net", "-b", body},
         {"< 220 \\x1b[2Jready", "> MAIL FROM: <a@example.net>", "< 250 sender ok", "> DATA", "< 354 go",
          "< 250 queued", "> QUIT", "< 221 bye"}},
        {"fetch --verbose", Replies({"+OK ready\r\n", "-ERR no CAPA\r\n", "+OK\r\n", "+OK in\r\n", "+OK 0 0\r\n", "+OK bye\r\n"}),
         {"fetch", "--verbose", "-u", "ann", "--list"},
         {"< +OK ready", "> CAPA", "< -ERR no CAPA", "> USER ann", "> PASS ********", "< +OK in", "> STAT", "< +OK 0 0", "> QUIT"}},
        {"send -v --message", Accepting("220 ready\r\n"),
         {"send", "-v", "-q", "-f", "a@example.net", "--to", "b@example.net", "--message", body},
         {"> MAIL FROM: <a@example.net>", "> DATA", "< 250 queued"}},
        {"send -q alone", Accepting("220 ready\r\n"),
         {"send", "-q", "-f", "a@example.net", "--to", "b@example.net", "-b", body}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({c.server});
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-s", "127.0.0.1", "-p", std::to_string(peer.port()), "--timeout", "5"});
        const Outcome run = Run(args);
        EXPECT_EQ(run.exitCode, EX_OK) << run.err;
        if (c.says.empty()) {
            EXPECT_EQ(run.err, "");
        }
        std::istringstream lines(run.err);
        auto expected = c.says.begin();
        for (std::string line; expected != c.says.end() && std::getline(lines, line);)
            expected += line == *expected;
        EXPECT_TRUE(expected == c.says.end()) << "missing or out of order: " << *expected << "\n" << run.err;
        EXPECT_EQ(run.err.find("pass-Word"), std::string::npos) << run.err;
    }
}

TEST_F(VerboseCommand, SendLogsInWhenAskedAndShowsNoSecret)
{
    const std::string body = (root_ / "body.txt").string();
    const Script offersPlain = Replies({"220 ready\r\n", "250-hello\r\n250 AUTH LOGIN PLAIN\r\n"});
    Script accepts = offersPlain, refuses = offersPlain;
    accepts.insert(accepts.end(), {Hear(), Say("235 2.7.0 welcome\r\n"), Hear(), Say("250 sender ok\r\n"), Hear(),
                                   Say("250 recipient ok\r\n"), Hear(), Say("354 go\r\n"), HearData(),
                                   Say("250 queued\r\n"), Hear(), Say("221 bye\r\n")});
    refuses.insert(refuses.end(), {Hear(), Say("535 5.7.8 no such user\r\n")});
    const struct {
        const char* name;
        Script server;
        int status;
        const char* says;
    } cases[] = {
        {"accepted", accepts, EX_OK, "> AUTH PLAIN ********"},
        {"refused", refuses, EX_NOPERM, "535 5.7.8 no such user"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({c.server});
        const Outcome run = Run({"send", "-v", "-q", "-u", "ann", "-f", "a@example.net", "--to", "b@example.net", "-b",
                                 body, "-s", "127.0.0.1", "-p", std::to_string(peer.port()), "--timeout", "5"});
        EXPECT_EQ(run.exitCode, c.status) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("pass-Word"), std::string::npos) << run.err;
    }
}

} // namespace

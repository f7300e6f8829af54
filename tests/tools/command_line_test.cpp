// The tolmail command run whole: how it reads its command line, and the exit status
// and the one line it gives for each kind of failure, against scripted loopback peers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "support/command_process.h"
#include "support/loopback_peer.h"

namespace {

namespace fs = std::filesystem;
using namespace loopback;

struct Outcome {
    int exitCode = -1;  // -1 when a signal ended the command
    std::string out, err;
};

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string base = (fs::temp_directory_path() / "tolmail-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        root_ = base;
    }
    void TearDown() override { fs::remove_all(root_); }

    /// Runs `tolmail args...` with `input` as standard input (a terminal that nobody
    /// types on when `input` is nullopt) and a password in the environment.
    Outcome Run(std::vector<std::string> args, const std::optional<std::string>& input = "")
    {
        fs::path stdinPath = root_ / "in";
        int terminal = -1;
        if (input) {
            std::ofstream(stdinPath, std::ios::binary) << *input;
        } else {
            terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
            EXPECT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
            stdinPath = ::ptsname(terminal);
        }
        command::Launch launch(std::move(args), {"TOLMAIL_PASSWORD=secret", "TMPDIR=" + root_.string()});
        launch.input = stdinPath.string();
        launch.output = (root_ / "out").string();
        launch.errors = (root_ / "err").string();
        Outcome outcome;
        const pid_t pid = command::Start(std::move(launch));
        const int status = pid < 0 ? -1 : command::Wait(pid);
        if (terminal >= 0)
            ::close(terminal);
        outcome.exitCode = command::ExitCode(status);
        outcome.out = command::Contents(root_ / "out");
        outcome.err = command::Contents(root_ / "err");
        return outcome;
    }

    fs::path root_;
};

/// Splits a command line written with blanks; no argument of these tests holds one.
std::vector<std::string> Words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

TEST_F(CommandLine, UsageErrorsNameTheOptionAndConnectNowhere)
{
    ScriptedPeer peer({Replies({"220 ready\r\n"}, true)});
    const std::string port = " -p " + std::to_string(peer.port()) + " ";
    const std::string send = "send -f a@example.net --to b@example.net" + port;
    const std::string fetch = "fetch -u ann" + port;
    const struct {
        std::string line, says;
    } cases[] = {
        {send + "--port 70000", "--port: 70000 is out of range 1..65534"},
        {send + "--port=0", "--port: 0 is out of range"},
        {send + "-p65535", "--port: 65535 is out of range"},
        {send + "--port 25x", "--port: '25x' is not a number"},
        {send + "--port 99999999999999999999", "--port: 99999999999999999999 is out of range"},
        {send + "--timeout 2000", "--timeout: 2000 is out of range 0..1500"},
        {send + "--timeout -1", "--timeout: -1 is out of range"},
        {send + "--priority 9", "--priority: 9 is out of range 0..5"},
        {send + "--charset 3", "--charset: 3 is out of range 0..2"},
        {send + "--attach-encoding rot13", "--attach-encoding: unknown encoding 'rot13'"},
        {send + "--header NoColon", "--header needs \"Name: value\""},
        {send + "--bogus", "'--bogus'"},
        {send + "-Z", "'-Z'"},
        {send + "--to", "--to needs a value"},
        {send + "-f", "--from needs a value"},
        {send + "stray", "unexpected argument 'stray'"},
        {send + "--server=", "--server: no server named"},
        {"send --to b@example.net" + port, "--from and at least one of --to"},
        {"send -f a@example.net" + port, "--from and at least one of --to"},
        {fetch + "--timeout 4", "--timeout: 4 is out of range 5..1500"},
        {fetch + "--timeout 1501", "--timeout: 1501 is out of range"},
        {fetch + "--port -5", "--port: -5 is out of range"},
        {fetch + "--alternative rtf", "--alternative: 'rtf' is neither PLAIN nor HTML"},
        {fetch + "--delete", "--delete needs --save-dir"},
        {fetch + "--list --user", "--user needs a value"},
        {"fetch" + port, "--user is required"},
        {"nonsense", "unknown command 'nonsense'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const Outcome run = Run(Words(c.line));
        EXPECT_EQ(run.exitCode, EX_USAGE);
        // The complaint comes first, on one line.
        EXPECT_NE(run.err.substr(0, run.err.find('\n')).find(c.says), std::string::npos) << run.err;
    }
    EXPECT_EQ(peer.accepted(), 0u);
}

TEST_F(CommandLine, VersionAndHelpAnswerOnStandardOutput)
{
    for (const std::string line : {"--version", "-V", "send --version", "fetch -V"}) {
        SCOPED_TRACE(line);
        const Outcome run = Run(Words(line));
        EXPECT_EQ(run.exitCode, EX_OK);
        // "tolmail MAJOR.MINOR.PATCH"
        const std::string version = run.out.substr(std::min(run.out.size(), size_t{8}));
        EXPECT_EQ(run.out.substr(0, 8), "tolmail ");
        EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << run.out;
        EXPECT_EQ(version.find_first_not_of("0123456789."), version.size() - 1) << run.out;
        EXPECT_EQ(run.out.back(), '\n');
        EXPECT_EQ(run.err, "");
    }
    // Help wins over whatever else is wrong on the line.
    for (const std::string line : {"send -h --port 0", "fetch --help"}) {
        const Outcome run = Run(Words(line));
        EXPECT_EQ(run.exitCode, EX_OK) << line;
        EXPECT_NE(run.out.find("exit status:"), std::string::npos) << line;
    }
}

/// An SMTP server that takes one message and keeps the dialogue.
Script Accepting()
{
    Script script =
        Replies({"220 ready\r\n", "250 hello\r\n", "250 sender ok\r\n", "250 recipient ok\r\n", "354 go ahead\r\n"});
    script.insert(script.end(), {HearData(), Say("250 queued\r\n"), Hear(), Say("221 bye\r\n")});
    return script;
}

TEST_F(CommandLine, ShortFormsEqualsValuesAndABodyFromAPipe)
{
    std::ofstream(root_ / "body.txt") << "from the file\n";
    const struct {
        const char* how;
        std::vector<std::string> extra;
        const char* body;
        bool terminal = false;  // standard input is a terminal, which must not be waited on
    } cases[] = {
        {"piped, no --body", {}, "from the pipe"},
        {"--body -", {"--body", "-"}, "from the pipe"},
        {"-b FILE beats the pipe", {"-b", (root_ / "body.txt").string()}, "from the file"},
        {"a terminal, no --body", {}, "\r\n\r\n.\r\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ScriptedPeer peer({Accepting()});
        std::vector<std::string> args{"send", "-s127.0.0.1", "--port=" + std::to_string(peer.port()), "--timeout", "5",
                                      "-fann@example.net", "--to=Bob <bob@example.net>", "-j", "hello", "-q",
                                      "--priority=1"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Outcome run = Run(args, c.terminal ? std::nullopt : std::optional<std::string>("from the pipe\n"));
        const std::string dialogue = peer.finish()[0];
        EXPECT_EQ(run.exitCode, EX_OK) << run.err;
        EXPECT_NE(dialogue.find("RCPT TO: <bob@example.net>"), std::string::npos) << dialogue;
        EXPECT_NE(dialogue.find("Subject: hello"), std::string::npos) << dialogue;
        EXPECT_NE(dialogue.find(c.body), std::string::npos) << dialogue;
    }
}

TEST_F(CommandLine, EachKindOfFailureHasItsExitStatusAndOneLine)
{
    std::ofstream(root_ / "body.txt") << "text\n";
    const uint16_t nobody = freePort();
    // The reason, not only the code: a refusal is told apart from a name that did not resolve.
    const std::string refused = "Cannot connect to 127.0.0.1 port " + std::to_string(nobody) + ": Connection refused";
    const struct {
        const char* name;
        const char* command;
        std::optional<Script> server;  // none: nothing listens
        std::vector<std::string> extra;
        int exitCode;
        std::string says;
    } cases[] = {
        {"send, refused connection", "send", {}, {}, EX_NOHOST, refused + " (TolvanSMTP code 4)"},
        {"send, silent server", "send", Script{Hold()}, {}, EX_TEMPFAIL, "within 1 s (TolvanSMTP code 6)"},
        {"send, 554 to RCPT", "send",
         Replies({"220 ready\r\n", "250 hello\r\n", "250 ok\r\n", "554 5.7.1 relay denied\r\n"}, true),
         {}, EX_NOUSER, "refused a recipient: 554 5.7.1 relay denied (TolvanSMTP code 5)"},
        {"send, 550 to MAIL", "send", Replies({"220 ready\r\n", "250 hello\r\n", "550 go away\r\n"}, true), {},
         EX_UNAVAILABLE, "550 go away (TolvanSMTP code 64)"},
        {"send, missing body file", "send", {}, {"--body", "/nonexistent/body"}, EX_NOINPUT,
         "cannot read the body file /nonexistent/body: No such file or directory"},
        {"send, refused address", "send", {}, {"--cc", "c d@example.net"}, EX_DATAERR, "recipient c d@example.net"},
        {"fetch, refused connection", "fetch", {}, {}, EX_NOHOST, refused + " (TolvanPOP3 code 4)"},
        {"fetch, silent server", "fetch", Script{Hold()}, {}, EX_TEMPFAIL, "within 5 s (TolvanPOP3 code 1)"},
        {"fetch, -ERR log-in", "fetch", Replies({"+OK ready\r\n", "-ERR no CAPA\r\n", "+OK\r\n", "-ERR wrong password\r\n"}, true),
         {}, EX_NOPERM, "wrong password (TolvanPOP3 code 5)"},
        {"fetch, not POP3", "fetch", Replies({"220 smtp here\r\n"}, true), {}, EX_PROTOCOL, "not a POP3 server"},
        {"fetch, save dir missing", "fetch", {}, {"-d", "/nonexistent/dir"}, EX_CANTCREAT,
         "cannot open the directory /nonexistent/dir: No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<ScriptedPeer> peer;
        if (c.server)
            peer.emplace(std::vector<Script>{*c.server});
        const std::string port = std::to_string(peer ? peer->port() : nobody);
        const bool sends = c.command == std::string("send");
        // The shortest wait each command allows, for the silent servers.
        std::vector<std::string> args{c.command, "-s", "127.0.0.1", "-p", port, "--timeout", sends ? "1" : "5", "-q"};
        if (sends)
            args.insert(args.end(),
                        {"-f", "a@example.net", "--to", "b@example.net", "-b", (root_ / "body.txt").string()});
        else
            args.insert(args.end(), {"-u", "ann", "--list"});
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Outcome run = Run(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind(std::string("tolmail ") + c.command + ": ", 0), 0u) << run.err;
    }
}

} // namespace

// The tolmail command's accounts file and password sources, seen from a loopback POP3
// peer: which server is called, and what USER and PASS lines it hears.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "support/command_process.h"
#include "support/loopback_peer.h"

namespace tolmail::cli {
namespace {

namespace fs = std::filesystem;
using namespace loopback;

struct Outcome {
    int exitCode = -1;
    std::string err;
};

// Greets, takes USER, refuses PASS: enough to hear both lines, and the command ends at once.
// fetch asks what the server offers first (--tls auto); with no STLS, on loopback the
// password still goes.
Script RefusesPassword() { return Replies({"+OK ready\r\n", "-ERR no CAPA\r\n", "+OK\r\n", "-ERR no\r\n"}); }

class Accounts : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string base = (fs::temp_directory_path() / "tolmail-accounts-XXXXXX").string();
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        root_ = base;
        fs::create_directories(root_ / "xdg" / "tolmail");
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path Write(const std::string& name, const std::string& text, mode_t mode = 0600)
    {
        const fs::path path = root_ / name;
        std::ofstream(path) << text;
        ::chmod(path.c_str(), mode);
        return path;
    }
    void WriteConfig(const std::string& text, mode_t mode = 0600) { Write("xdg/tolmail/config", text, mode); }

    /// Starts `tolmail ARGS` with HOME and XDG_CONFIG_HOME in the test's directory, the
    /// given TOLMAIL_PASSWORD (none when nullopt) and standard input from `input`; with
    /// a terminal for `input`, in a session of its own so that it is the controlling
    /// one. The pid, or -1.
    pid_t Start(std::vector<std::string> args, const std::optional<std::string>& password,
                const std::string& input = "/dev/null", bool ownSession = false)
    {
        command::Launch launch(std::move(args),
                               {"HOME=" + root_.string(), "XDG_CONFIG_HOME=" + (root_ / "xdg").string()});
        if (password)
            launch.env.push_back("TOLMAIL_PASSWORD=" + *password);
        launch.input = input;
        launch.errors = (root_ / "err").string();
        launch.ownSession = ownSession;
        return command::Start(std::move(launch));
    }

    Outcome Run(const std::vector<std::string>& args, const std::optional<std::string>& password = std::nullopt)
    {
        Outcome outcome;
        const pid_t pid = Start(args, password);
        if (pid < 0)
            return outcome;
        outcome.exitCode = command::ExitCode(command::Wait(pid));
        outcome.err = command::Contents(root_ / "err");
        return outcome;
    }

    fs::path root_;
};

bool Heard(const ScriptedPeer& peer, const std::string& line)
{
    const std::vector<std::string> lines = peer.lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(Accounts, TheChosenAccountPicksServerAndUserAndTheCommandLineOverridesIt)
{
    const struct {
        const char* how;
        std::vector<std::string> extra;
        bool second;  // which peer must be called
        std::string user;
    } cases[] = {
        {"the default line", {}, true, "USER bob"},
        {"--account", {"--account", "first"}, false, "USER ann"},
        {"--user over the account", {"--account", "first", "--user", "carl"}, false, "USER carl"},
        {"--port over the account", {"--account", "first", "--port", "SECOND"}, true, "USER ann"},
        {"an account built on another", {"--account", "derived"}, false, "USER dora"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ScriptedPeer first({RefusesPassword()}), second({RefusesPassword()});
        WriteConfig("# mail accounts\ndefaults\nserver 127.0.0.1\ntimeout 5\n\n"
                    "account first\nport " + std::to_string(first.port()) + "\nuser ann\n"
                    "account second\n  port\t" + std::to_string(second.port()) + "\n  user \"bob\"\n"
                    "account derived : first\nuser dora\n"
                    "default second\n");
        std::vector<std::string> args{"fetch", "--list", "-q"};
        for (const std::string& arg : c.extra)
            args.push_back(arg == "SECOND" ? std::to_string(second.port()) : arg);
        const Outcome run = Run(args, "secret");
        EXPECT_EQ(run.exitCode, EX_NOPERM) << run.err;
        const ScriptedPeer& called = c.second ? second : first;
        EXPECT_EQ((c.second ? first : second).accepted(), 0u);
        EXPECT_TRUE(Heard(called, c.user)) << run.err;
        EXPECT_TRUE(Heard(called, "PASS secret"));
    }
}

TEST_F(Accounts, AFaultyConfigurationIsRefusedWithOneLine)
{
    fs::create_directory(root_ / "dir");
    const struct {
        const char* how;
        std::string text;
        mode_t mode;
        std::vector<std::string> extra;
        int exitCode;
        std::string says;
    } cases[] = {
        {"readable by group", "server 127.0.0.1\n", 0640, {}, EX_CONFIG, "readable or writable by group or others"},
        {"writable by others", "server 127.0.0.1\n", 0602, {}, EX_CONFIG, "readable or writable by group or others"},
        {"a directory", "", 0600, {"--config", "DIR"}, EX_CONFIG, "is not a regular file"},
        {"a missing file", "", 0600, {"--config", "MISSING"}, EX_NOINPUT, "No such file or directory"},
        {"unknown key", "# c\ndefaults\nsever 127.0.0.1\n", 0600, {}, EX_CONFIG, "config:3: unknown key 'sever'"},
        {"account without name", "account\n", 0600, {}, EX_CONFIG, "config:1: expected 'account NAME'"},
        {"key without value", "account a\nuser\n", 0600, {}, EX_CONFIG, "config:2: 'user' needs a value"},
        {"port out of range", "timeout 5\nport 65535\n", 0600, {}, EX_CONFIG, "config:2: --port: 65535 is out of range"},
        {"timeout not a number", "timeout soon\n", 0600, {}, EX_CONFIG, "config:1: --timeout: 'soon' is not a number"},
        {"tls mode unknown", "timeout 5\ntls sometimes\n", 0600, {}, EX_CONFIG, "config:2: --tls: 'sometimes' is none of"},
        {"insecure neither yes nor no", "account a\ninsecure maybe\ndefault a\n", 0600, {}, EX_CONFIG,
         "config:2: insecure: 'maybe' is neither yes nor no"},
        {"alternative unknown", "alternative rtf\n", 0600, {}, EX_CONFIG, "config:1: --alternative: 'rtf' is neither"},
        {"unknown account", "account a\nuser ann\n", 0600, {"--account", "zed"}, EX_CONFIG, "no account 'zed'"},
        {"unknown default", "default zed\n", 0600, {}, EX_CONFIG, "no account 'zed'"},
        {"circular accounts", "account a : b\naccount b : a\n", 0600, {"--account", "a"}, EX_CONFIG, "its own base"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ScriptedPeer peer({RefusesPassword()});
        WriteConfig(c.text, c.mode);
        std::vector<std::string> args{"fetch", "-s", "127.0.0.1", "-p", std::to_string(peer.port()), "-u", "ann"};
        for (const std::string& arg : c.extra)
            args.push_back(arg == "DIR" ? (root_ / "dir").string() : arg == "MISSING" ? (root_ / "no").string() : arg);
        const Outcome run = Run(args, "secret");
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(peer.accepted(), 0u);
    }
}

TEST_F(Accounts, SendTakesItsServerAndSenderFromTheAccount)
{
    ScriptedPeer peer({Replies({"220 ready\r\n", "250 hello\r\n", "550 no\r\n"})});
    WriteConfig("account mail\nserver 127.0.0.1\nport " + std::to_string(peer.port()) +
                "\nfrom ann@example.net\nuser ann\npassword-command echo unused\ndefault mail\n");
    Write("body", "text\n");
    const Outcome run = Run({"send", "--to", "bob@example.net", "-b", (root_ / "body").string(), "-q"});
    EXPECT_EQ(run.exitCode, EX_UNAVAILABLE) << run.err;
    EXPECT_TRUE(Heard(peer, "MAIL FROM: <ann@example.net>") || Heard(peer, "MAIL FROM:<ann@example.net>")) << run.err;
}

TEST_F(Accounts, EachPasswordSourceInItsTurn)
{
    Write("pw", "from-file\nsecond line\n");
    const std::string file = (root_ / "pw").string();
    const std::string netrc = "machine example.net login ann password wrong-host\n"
                              "machine 127.0.0.1 login bob password wrong-user\n"
                              "machine 127.0.0.1 login ann password from-netrc\n"
                              "default login zoe password from-default\n";
    const struct {
        const char* how;
        std::vector<std::string> extra;
        std::optional<std::string> variable;
        std::string account;  // lines of the account
        std::string pass;
    } cases[] = {
        {"file", {"--password-file", file}, "from-variable", "", "PASS from-file"},
        {"command", {"--password-command", "printf 'from-command\\nmore\\n'"}, "from-variable", "", "PASS from-command"},
        {"file before command", {"--password-command", "echo no", "--password-file", file}, {}, "", "PASS from-file"},
        {"variable", {}, "from-variable", "", "PASS from-variable"},
        {"netrc", {}, {}, "", "PASS from-netrc"},
        {"netrc's default entry", {"-u", "zoe"}, {}, "", "PASS from-default"},
        {"the account's command", {}, "from-variable", "password-command echo from-account\n", "PASS from-account"},
        {"a command given over the account's file", {"--password-command", "echo from-command"}, {},
         "password-file " + file + "\n", "PASS from-command"},
    };
    Write(".netrc", netrc);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ScriptedPeer peer({RefusesPassword()});
        WriteConfig("account a\nserver 127.0.0.1\nuser ann\ntimeout 5\nport " + std::to_string(peer.port()) + "\n" +
                    c.account + "default a\n");
        std::vector<std::string> args{"fetch", "--list", "-q"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Outcome run = Run(args, c.variable);
        EXPECT_EQ(run.exitCode, EX_NOPERM) << run.err;
        EXPECT_TRUE(Heard(peer, c.pass)) << run.err;
    }
}

TEST_F(Accounts, AFailingPasswordSourceStopsBeforeConnecting)
{
    const struct {
        const char* how;
        std::vector<std::string> extra;
        mode_t netrcMode;
        int exitCode;
        std::string says;
    } cases[] = {
        {"command fails", {"--password-command", "echo x; exit 3"}, 0600, EX_CONFIG, "exited with status 3"},
        {"command prints nothing", {"--password-command", "true"}, 0600, EX_DATAERR, "printed an empty line"},
        {"netrc readable by others", {}, 0644, EX_CONFIG, "others may read it"},
        {"no source at all", {"-u", "nobody"}, 0600, EX_CONFIG, "no password"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ScriptedPeer peer({RefusesPassword()});
        Write(".netrc", "machine 127.0.0.1 login ann password pw\n", c.netrcMode);
        std::vector<std::string> args{"fetch", "-s", "127.0.0.1", "-p", std::to_string(peer.port()), "-u", "ann"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Outcome run = Run(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(peer.accepted(), 0u);
    }
}

/// Reads from the terminal's master side until `marker` shows or `millis` pass; all
/// that was read.
std::string ReadUntil(int master, const std::string& marker, int millis = 20000)
{
    std::string seen;
    char buffer[256];
    for (const auto deadline = after(millis); seen.find(marker) == std::string::npos && Clock::now() < deadline;) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0)
            seen.append(buffer, static_cast<size_t>(got));
        else
            pause(10);
    }
    return seen;
}

TEST_F(Accounts, ThePromptReadsWithoutEchoAndRestoresTheTerminal)
{
    for (const bool interrupted : {false, true}) {
        SCOPED_TRACE(interrupted ? "interrupted" : "typed");
        ScriptedPeer peer({RefusesPassword()});
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0)
            GTEST_SKIP() << "no pseudo-terminal on this machine";
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        const pid_t pid = Start({"fetch", "-s", "127.0.0.1", "-p", std::to_string(peer.port()), "-u", "ann", "-q"},
                                std::nullopt, ::ptsname(master), true);
        ASSERT_GT(pid, 0);
        std::string shown = ReadUntil(master, "Password for ann@127.0.0.1: ");
        EXPECT_NE(shown.find("Password for ann@127.0.0.1: "), std::string::npos) << shown;
        termios during{};
        ASSERT_EQ(::tcgetattr(master, &during), 0);
        EXPECT_EQ(during.c_lflag & ECHO, 0u);
        if (interrupted)
            ::kill(pid, SIGINT);
        else
            (void)!::write(master, "typed-secret\n", 13);
        const int status = command::Wait(pid);
        shown += ReadUntil(master, "typed-secret", 200);
        termios after{};
        ASSERT_EQ(::tcgetattr(master, &after), 0);
        EXPECT_NE(after.c_lflag & ECHO, 0u) << "echo stays off";
        EXPECT_EQ(shown.find("typed-secret"), std::string::npos) << "echoed: " << shown;
        if (interrupted) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
            EXPECT_EQ(peer.accepted(), 0u);
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EX_NOPERM);
            EXPECT_TRUE(Heard(peer, "PASS typed-secret"));
        }
        ::close(master);
    }
}

} // namespace
} // namespace tolmail::cli

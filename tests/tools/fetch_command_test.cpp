// The tolmail command run whole against a loopback POP3 peer: what it saves, deletes,
// prints and leaves behind when the mail, the server or the caller is hostile.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>

#include "support/command_process.h"
#include "support/loopback_peer.h"
#include "support/tls_test_peer.h"

namespace tolmail::cli {
namespace {

namespace fs = std::filesystem;

/// How the peer answers "RETR n" for a message listed in Mailbox::retr.
struct Retr {
    std::string bytes;  // sent as they are
    enum Then { Answer, HangUp, Stall } then = Answer;
};

/// A mailbox served to one client; RETR of message n sends it whole with its
/// terminator unless `retr` says otherwise.
struct Mailbox {
    std::vector<std::string> messages;
    std::map<int, Retr> retr = {};
    std::string passReply = "+OK logged in\r\n";
};

/// A POP3 server on loopback that answers by command and keeps every command line.
class Pop3Peer {
public:
    explicit Pop3Peer(Mailbox box) : box_(std::move(box)), peer_([this](int fd) { serve(fd); }) {}

    uint16_t port() const { return peer_.port(); }
    size_t accepted() const { return peer_.accepted(); }
    bool heard(const std::string& command) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::find(commands_.begin(), commands_.end(), command) != commands_.end();
    }

private:
    void serve(int fd)
    {
        using namespace loopback;
        std::string got;
        sendAll(fd, "+OK ready\r\n");
        for (size_t at = 0, end; (end = readUntil(fd, got, "\r\n", at, after(kWaitMs), peer_.stop())) != std::string::npos;
             at = end) {
            const std::string line = got.substr(at, end - 2 - at);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                commands_.push_back(line);
            }
            const std::string verb = line.substr(0, line.find(' '));
            const int n = std::atoi(line.c_str() + verb.size());
            const bool exists = n >= 1 && n <= static_cast<int>(box_.messages.size());
            const std::string message = exists ? box_.messages[n - 1] : "";
            const Retr* special = verb == "RETR" && exists && box_.retr.count(n) ? &box_.retr[n] : nullptr;
            std::string reply = "+OK\r\n";
            if (verb == "PASS")
                reply = box_.passReply;
            else if (verb == "STAT")
                reply = "+OK " + std::to_string(box_.messages.size()) + " 1000\r\n";
            else if (verb == "LIST" && exists)
                reply = "+OK " + std::to_string(n) + " " + std::to_string(message.size()) + "\r\n";
            else if (verb == "TOP" && exists)
                reply = "+OK\r\n" + message.substr(0, message.find("\r\n\r\n") + 2) + ".\r\n";
            else if (verb == "RETR" && exists)
                reply = special ? special->bytes : "+OK\r\n" + message + ".\r\n";
            else if (verb != "USER" && verb != "DELE" && verb != "NOOP" && verb != "RSET" && verb != "QUIT")
                reply = "-ERR unknown\r\n";
            if (!sendAll(fd, reply) || verb == "QUIT")
                return;
            if (special && special->then == Retr::HangUp)
                return;
            if (special && special->then == Retr::Stall)
                for (const auto deadline = after(kWaitMs); readSome(fd, got, deadline, peer_.stop());) {
                }
        }
    }

    Mailbox box_;
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    loopback::Peer peer_;  // last: its thread ends before the members above go
};

std::string Multipart(const std::string& name, const std::string& base64)
{
    return "From: Ann <ann@example.net>\r\nSubject: parts\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
           "--b\r\nContent-Type: text/plain\r\n\r\nSee the attachment.\r\n"
           "--b\r\nContent-Type: application/octet-stream; name=\"" +
           name + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + base64 + "\r\n--b--\r\n";
}

const std::string kGood = Multipart("good.txt", "aGVsbG8=");

struct Outcome {
    int exitCode = -1;  // -1 when a signal ended the command
    int signal = 0;
    std::string out, err;
};

using command::Contents;

/// Nothing a terminal would obey, and no flood: plain lines of bounded length.
void ExpectTerminalSafe(const std::string& text)
{
    for (char c : text)
        ASSERT_TRUE(c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)) << "raw byte " << int(c);
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        EXPECT_LT(end - at, 1000u);
}

class FetchCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string base = (fs::temp_directory_path() / "tolmail-command-XXXXXX").string();
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        root_ = base;
        fs::create_directory(save_ = root_ / "save");
        fs::create_directory(tmp_ = root_ / "tmp");
    }
    void TearDown() override { fs::remove_all(root_); }

    /// Runs the command with TMPDIR in the test's own directory; `during` runs while it does.
    Outcome Run(const std::vector<std::string>& args, const std::string& password = "secret",
                const std::function<void(pid_t)>& during = {})
    {
        command::Launch launch(args, {"TMPDIR=" + tmp_.string(), "TOLMAIL_PASSWORD=" + password});
        launch.output = (root_ / "out").string();
        launch.errors = (root_ / "err").string();
        launch.defaultSignals = true;  // the signals under test reach the command
        Outcome outcome;
        const pid_t pid = command::Start(std::move(launch));
        if (pid < 0)
            return outcome;
        if (during)
            during(pid);
        const int status = command::Wait(pid);
        outcome.exitCode = command::ExitCode(status);
        outcome.signal = status != -1 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        for (auto [name, text] : {std::pair{"out", &outcome.out}, std::pair{"err", &outcome.err}})
            ExpectTerminalSafe(*text = Contents(root_ / name));
        return outcome;
    }

    std::vector<std::string> Fetch(const Pop3Peer& peer, std::vector<std::string> more) const
    {
        std::vector<std::string> args{"fetch",  "--server", "127.0.0.1", "--port", std::to_string(peer.port()),
                                      "--user", "demo",     "--timeout", "5",      "--quiet"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    std::vector<std::string> SaveAndDelete(const Pop3Peer& peer) const
    {
        return Fetch(peer, {"--save-dir", save_.string(), "--delete"});
    }
    /// What the command left in its TMPDIR (its private cache must be gone).
    size_t LeftInTmp() const { return std::distance(fs::directory_iterator(tmp_), fs::directory_iterator()); }

    fs::path root_, save_, tmp_;
};

TEST_F(FetchCommand, MessageNotSavedWholeIsReportedAndNeverDeleted)
{
    std::string large;  // over the memory limit: decoded from its temporary file
    for (int line = 0; line < 20000; ++line)
        large += std::string(76, 'Q') + "\r\n";
    const std::vector<std::string> undecodable{"message 1: saving 'bad.bin': the content does not decode",
                                               "1 of 2 messages not saved whole: they stay at the server"};
    const struct {
        const char* name;
        std::string first;
        std::optional<Retr> retr;  // how "RETR 1" is answered, when not whole
        int exitCode;
        bool goesOn;               // the session still answers, so message 2 is fetched
        std::vector<std::string> says;
    } cases[] = {
        {"small undecodable part", Multipart("bad.bin", "QUJD!ERF"), {}, EX_DATAERR, true, undecodable},
        {"large undecodable part", Multipart("bad.bin", large + "QUJD!ERF"), {}, EX_DATAERR, true, undecodable},
        {"refused", kGood, Retr{"-ERR \x1b]0;owned\x07" + std::string(100000, 'E') + "\r\n"}, EX_UNAVAILABLE,
         true, {"message 1: retrieval failed, left at the server: refused by the server"}},
        {"cut short", kGood, Retr{"+OK\r\nSubject: x\r\n\r\nhalf a bo", Retr::HangUp}, EX_TEMPFAIL, false,
         {"message 2: not retrieved: the session with the server is lost",
          "2 of 2 messages not saved whole: they stay at the server"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(save_);
        fs::create_directory(save_);
        Mailbox box{{c.first, kGood}};
        if (c.retr)
            box.retr[1] = *c.retr;
        Pop3Peer peer(box);
        const Outcome run = Run(SaveAndDelete(peer));
        EXPECT_EQ(run.exitCode, c.exitCode);
        for (const std::string& says : c.says)
            EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(save_ / "bad.bin")) << "a partial file passes for a saved one";
        EXPECT_EQ(Contents(save_ / "good.txt"), c.goesOn ? "hello" : "");
        EXPECT_EQ(Contents(save_ / "message-2.txt"), c.goesOn ? "See the attachment." : "");
        EXPECT_FALSE(peer.heard("DELE 1"));
        EXPECT_EQ(peer.heard("DELE 2"), c.goesOn);
        EXPECT_EQ(peer.heard("QUIT"), c.goesOn);
        EXPECT_EQ(LeftInTmp(), 0u);
    }
}

TEST_F(FetchCommand, TheTextPartIsSavedOnceAsTheMessageText)
{
    // However the text part is encoded, it becomes message-1.txt and is not saved again
    // as an unnamed part; an unnamed part with other content is.
    const struct {
        const char* encoding;
        std::string body, text;
        bool extraPart;  // a second unnamed text part, which must be saved
    } cases[] = {
        {"7bit", "Plain words.", "Plain words.", false},
        {"quoted-printable", "Caf=C3=A9 =3D soft=\r\nbreak", "Caf\xC3\xA9 = softbreak", false},
        {"base64", "SGVsbG8gdGhlcmU=", "Hello there", false},
        {"7bit", "Plain words.", "Plain words.", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding);
        fs::remove_all(save_);
        fs::create_directory(save_);
        std::string mail = "From: a@example.net\r\nMIME-Version: 1.0\r\n"
                           "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                           "--b\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: " +
                           std::string(c.encoding) + "\r\n\r\n" + c.body + "\r\n";
        if (c.extraPart)
            mail += "--b\r\nContent-Type: text/plain\r\n\r\nA second note.\r\n";
        mail += "--b\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\naGVsbG8=\r\n--b--\r\n";
        Pop3Peer peer({{mail}});
        const Outcome run = Run(Fetch(peer, {"--save-dir", save_.string()}));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(save_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        std::vector<std::string> expected{"a.bin", "message-1.txt"};
        if (c.extraPart)
            expected.insert(expected.end() - 1, "message-1-part-2.txt");
        EXPECT_EQ(names, expected);
        EXPECT_EQ(Contents(save_ / "message-1.txt"), c.text);
        EXPECT_EQ(LeftInTmp(), 0u);
    }
}

TEST_F(FetchCommand, AttachmentsKeepTheNamesTheirSendersGave)
{
    // Decoded names in their own letter case; a name that decodes to a path or a hidden
    // file is made safe after decoding, not before; the text is written as UTF-8.
    const struct {
        const char* header;  // the part's naming fields
        const char* saved;
    } cases[] = {
        {"Content-Type: application/pdf; name=\"Report Q1.PDF\"", "Report Q1.PDF"},
        {"Content-Type: application/pdf\r\nContent-Disposition: attachment;\r\n filename*1*=%C3%9Fe.txt;\r\n"
         " filename*0*=utf-8'de'Gr%C3%BC",
         "Gr\xc3\xbc\xc3\x9f" "e.txt"},
        {"Content-Type: image/jpeg; name=\"=?UTF-8?B?0KTQvtGC0L4uanBn?=\"", "\xd0\xa4\xd0\xbe\xd1\x82\xd0\xbe.jpg"},
        {"Content-Type: text/plain; name=\"=?utf-8?Q?=2E=2E=2F=2E=2E=2F=2Ebashrc?=\"", "bashrc"},
        {"Content-Type: text/plain; name*=utf-8''%E2%80%AEtxt.exe", "txt.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.saved);
        fs::remove_all(save_);
        fs::create_directory(save_);
        const std::string mail = "From: a@example.net\r\nMIME-Version: 1.0\r\n"
                                 "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                                 "--b\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\nCaf\xe9\r\n"
                                 "--b\r\n" + std::string(c.header) + "\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                                 "aGVsbG8=\r\n--b--\r\n";
        Pop3Peer peer({{mail}});
        const Outcome run = Run(Fetch(peer, {"--save-dir", save_.string()}));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Contents(save_ / c.saved), "hello");
        EXPECT_EQ(Contents(save_ / "message-1.txt"), "Caf\xc3\xa9");
    }
}

TEST_F(FetchCommand, HostileServerTextIsEscapedAndCapped)
{
    const std::string hostile = "\x1b[2J\xe2\x80\xae\x9b" + std::string(20000, 'S');
    Mailbox refused{{kGood}};
    refused.passReply = "-ERR " + hostile + "\r\n";
    Pop3Peer login(refused);
    EXPECT_EQ(Run(Fetch(login, {"--list"})).exitCode, EX_NOPERM);

    Pop3Peer listing({{"From: " + hostile + " <a@b>\r\nSubject: " + hostile + "\r\nDate: " + hostile + "\r\n\r\nx\r\n"}});
    const Outcome run = Run(Fetch(listing, {"--list"}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\\x1b[2J\\u{202e}\\x9bSSS"), std::string::npos) << run.out;
}

TEST_F(FetchCommand, BadPasswordOrAttachmentIsRefusedBeforeConnecting)
{
    fs::create_directory(root_ / "dir");
    std::ofstream(root_ / "empty") << "\nsecond line";
    std::ofstream(root_ / ".hidden") << "x";
    ::mkfifo((root_ / "fifo").c_str(), 0600);
    const struct {
        const char* verb;  // "fetch": a password file (none: the environment's); "send": an attachment
        std::string file, password, says;
        int exitCode;
    } cases[] = {
        {"fetch", "dir", "secret", "is a directory", EX_NOINPUT},
        {"fetch", "fifo", "secret", "is not a regular file", EX_NOINPUT},
        {"fetch", "empty", "secret", "is empty (no password)", EX_DATAERR},
        {"fetch", "missing", "secret", "No such file or directory", EX_NOINPUT},
        {"fetch", "", "", "TOLMAIL_PASSWORD is empty", EX_CONFIG},
        {"send", "missing", "secret", "No such file or directory", EX_NOINPUT},
        {"send", "dir", "secret", "it is a directory", EX_NOINPUT},
        {"send", ".hidden", "secret", "hidden files", EX_NOINPUT},
        {"send", "fifo", "secret", "not a regular file", EX_NOINPUT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        Pop3Peer peer({{kGood}});
        const std::string file = (root_ / c.file).string();
        const bool sends = c.verb == std::string("send");
        const Outcome run = Run(sends ? std::vector<std::string>{"send", "--server", "127.0.0.1", "--port",
                                                                 std::to_string(peer.port()), "--from", "a@example.net",
                                                                 "--to", "b@example.net", "--attach", file, "--quiet"}
                                      : Fetch(peer, c.file.empty() ? std::vector<std::string>{"--list"}
                                                                   : std::vector<std::string>{"--password-file", file}),
                                c.password);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(peer.accepted(), 0u);
    }
}

TEST_F(FetchCommand, TerminatingSignalRemovesThePrivateCache)
{
    const std::string partStarted = "+OK\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                                    "Content-Type: application/octet-stream; name=\"big.bin\"\r\n\r\nQUJD\r\n";
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        Pop3Peer peer({{kGood}, {{1, {partStarted, Retr::Stall}}}});
        const Outcome run = Run(SaveAndDelete(peer), "secret", [&](pid_t pid) {
            for (const auto deadline = loopback::after(20000); !peer.heard("RETR 1") && loopback::Clock::now() < deadline;)
                loopback::pause(10);
            loopback::pause(300);  // the part's temporary file is there by now
            ::kill(pid, signal);
        });
        EXPECT_EQ(run.signal, signal) << run.err;
        EXPECT_EQ(LeftInTmp(), 0u) << "signal " << signal;
    }
}

/// The bytes a POP3 server sends for `message` after "+OK": lines that begin with a dot
/// get one more, then the terminating line.
std::string Served(const std::string& message)
{
    std::string wire;
    for (size_t at = 0; at < message.size();) {
        const size_t end = message.find("\r\n", at);
        const size_t next = end == std::string::npos ? message.size() : end + 2;
        if (message[at] == '.')
            wire += '.';
        wire.append(message, at, next - at);
        at = next;
    }
    return "+OK\r\n" + wire + ".\r\n";
}

/// A mailbox whose RETR answers are byte-stuffed, as a real server's are.
Mailbox StuffedBox(const std::vector<std::string>& messages)
{
    Mailbox box{messages};
    for (size_t n = 1; n <= messages.size(); ++n)
        box.retr[static_cast<int>(n)] = Retr{Served(messages[n - 1])};
    return box;
}

const std::vector<std::string> kWholeMessages = {
    "From: Ann <ann@example.net>\r\nTo: bo@example.net\r\nSubject: first\r\nDate: Mon, 2 Mar 2026 10:00:00 +0000\r\n"
    "Message-ID: <1@example.net>\r\n\r\nline one\r\n.\r\n..two dots\r\n.leading dot\r\nlast\r\n",
    "From: bo@example.net\r\nSubject: parts\r\nMessage-ID: <2@example.net>\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nSee the attachment.\r\n"
    "--b\r\nContent-Type: application/octet-stream; name=\"good.txt\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "aGVsbG8=\r\n--b--\r\n",
    "From: Cy <cy@example.net>\r\nSubject: =?UTF-8?Q?caf=C3=A9?=\r\nMessage-ID: <3@example.net>\r\n\r\n"
    + std::string(300000, 'x') + "\r\n",
};

std::vector<fs::path> FilesIn(const fs::path& dir)
{
    std::vector<fs::path> files;
    if (fs::is_directory(dir))
        for (const auto& entry : fs::directory_iterator(dir))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(FetchCommand, KeepWritesEachMessageAsServedWithoutOverwriting)
{
    std::ofstream(save_ / "message-1.eml") << "older";
    Pop3Peer peer(StuffedBox(kWholeMessages));
    const Outcome run = Run(Fetch(peer, {"--save-dir", save_.string(), "--keep", "--delete"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Contents(save_ / "message-1.eml"), "older");
    EXPECT_EQ(Contents(save_ / "message-1-1.eml"), kWholeMessages[0]);
    EXPECT_EQ(Contents(save_ / "message-2.eml"), kWholeMessages[1]);
    EXPECT_EQ(Contents(save_ / "message-3.eml"), kWholeMessages[2]);
    // Sizes are those of the files written, in bytes.
    for (const std::string& says :
         {"message 1: saved message-1-1.eml (" + std::to_string(kWholeMessages[0].size()) + " bytes)",
          std::string("message 2: saved good.txt (5 bytes)")})
        EXPECT_NE(run.out.find(says), std::string::npos) << run.out;
    for (const char* dele : {"DELE 1", "DELE 2", "DELE 3"})
        EXPECT_TRUE(peer.heard(dele)) << dele;
    EXPECT_EQ(LeftInTmp(), 0u);
}

TEST_F(FetchCommand, MaildirDeliveriesAreReadBackByPythonsMailbox)
{
    if (::access("/usr/bin/python3", X_OK) != 0)
        GTEST_SKIP() << "no python3";
    const fs::path maildir = root_ / "mail" ;
    Pop3Peer peer(StuffedBox(kWholeMessages));
    const Outcome run = Run(Fetch(peer, {"--maildir", maildir.string(), "--delete"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(FilesIn(save_).empty()) << "--maildir alone writes no text or attachment files";
    EXPECT_TRUE(FilesIn(maildir / "tmp").empty());
    EXPECT_TRUE(fs::is_directory(maildir / "cur"));
    EXPECT_EQ((fs::status(maildir).permissions() & fs::perms::all), fs::perms::owner_all);
    const std::vector<fs::path> delivered = FilesIn(maildir / "new");
    ASSERT_EQ(delivered.size(), 3u);
    for (const fs::path& file : delivered)
        EXPECT_EQ(Contents(file).find('\r'), std::string::npos) << "Unix line ends in " << file;

    const fs::path script = root_ / "read.py";
    std::ofstream(script) << "import email.policy, mailbox, sys\n"
                             "box = mailbox.Maildir(sys.argv[1], factory=None, create=False)\n"
                             "for m in sorted(box, key=lambda m: m['Message-ID']):\n"
                             "    m = email.message_from_bytes(m.as_bytes(), policy=email.policy.default)\n"
                             "    body = m.get_body(('plain',)).get_content()\n"
                             "    print(m['From'], '|', m['Subject'], '|', m['Message-ID'], '|', len(body),\n"
                             "          repr(body[:30]))\n";
    const fs::path out = root_ / "python-out";
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + script.string() + "' '" + maildir.string() + "' > '" +
                           out.string() + "' 2>&1")
                              .c_str()),
              0)
        << Contents(out);
    EXPECT_EQ(Contents(out),
              "Ann <ann@example.net> | first | <1@example.net> | 40 'line one\\n.\\n..two dots\\n.leading'\n"
              "bo@example.net | parts | <2@example.net> | 19 'See the attachment.'\n"
              "Cy <cy@example.net> | caf\xC3\xA9 | <3@example.net> | 300001 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'\n");
    EXPECT_EQ(LeftInTmp(), 0u);
}

TEST_F(FetchCommand, DeleGoesOutOnlyForMessagesDeliveredWhole)
{
    const fs::path maildir = root_ / "mail";
    const auto readOnly = [](const fs::path& dir) {
        fs::create_directories(dir);
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    };
    const struct {
        const char* name;
        std::function<void()> prepare;
        std::optional<Retr> second;  // how "RETR 2" is answered, when not whole
        std::vector<std::string> more;
        int exitCode;
        std::vector<int> deleted;
        size_t inNew;
        bool connects = true;
        bool byModeBits = false;  // root writes through them: the case cannot fail there
    } cases[] = {
        {"all delivered", [] {}, {}, {}, 0, {1, 2, 3}, 3},
        {"second refused", [] {}, Retr{"-ERR gone\r\n"}, {}, EX_UNAVAILABLE, {1, 3}, 2},
        {"second cut short", [] {}, Retr{"+OK\r\nSubject: x\r\n\r\nhalf", Retr::HangUp}, {}, EX_TEMPFAIL, {1}, 1},
        {"new/ is a file", [&] { fs::create_directories(maildir); std::ofstream(maildir / "new") << "x"; }, {}, {},
         EX_CANTCREAT, {}, 0},
        {"DIR is a file", [&] { std::ofstream(maildir) << "x"; }, {}, {}, EX_CANTCREAT, {}, 0, false},
        {"new/ not writable", [&] { readOnly(maildir / "new"); }, {}, {}, EX_CANTCREAT, {}, 0, true, true},
        {"kept whole too, where nothing can be written", [&] { readOnly(save_); }, {},
         {"--save-dir", save_.string(), "--keep"}, EX_CANTCREAT, {}, 3, true, true},
        {"--keep without --save-dir", [] {}, {}, {"--keep"}, EX_USAGE, {}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.byModeBits && ::geteuid() == 0)
            continue;
        fs::remove_all(maildir);
        c.prepare();
        Mailbox box = StuffedBox(kWholeMessages);
        if (c.second)
            box.retr[2] = *c.second;
        Pop3Peer peer(box);
        std::vector<std::string> args{"--maildir", maildir.string(), "--delete"};
        args.insert(args.end(), c.more.begin(), c.more.end());
        const Outcome run = Run(Fetch(peer, args));
        fs::permissions(save_, fs::perms::owner_all);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(peer.accepted(), c.connects ? 1u : 0u);
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(peer.heard("DELE " + std::to_string(n)),
                      std::count(c.deleted.begin(), c.deleted.end(), n) == 1)
                << n;
        if (fs::is_directory(maildir / "new")) {
            EXPECT_EQ(FilesIn(maildir / "new").size(), c.inNew);
            fs::permissions(maildir / "new", fs::perms::owner_all);
        }
        EXPECT_TRUE(FilesIn(maildir / "tmp").empty()) << "a delivery that failed leaves nothing in tmp/";
        EXPECT_EQ(LeftInTmp(), 0u);
    }
}

TEST_F(FetchCommand, ACertificateThatFailsEndsTheRunBeforeAnyPasswordWithItsReason)
{
    const struct {
        const char* mode;
        const tls_peer::Credential& credential;
        std::string says;
    } cases[] = {
        {"implicit", tls_peer::Pki().unknownIssuer, "the certificate was not issued by a trusted authority"},
        {"starttls", tls_peer::Pki().otherHost, "the certificate is for another host name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const bool implicit = c.mode == std::string("implicit");
        std::string heard;
        loopback::Peer server([&](int fd) {
            if (!implicit) {
                loopback::sendAll(fd, "+OK ready\r\n");
                loopback::readUntil(fd, heard, "\r\n", 0, loopback::after(loopback::kWaitMs));
                loopback::sendAll(fd, "+OK\r\nSTLS\r\n.\r\n");
                loopback::readUntil(fd, heard, "\r\n", heard.size(), loopback::after(loopback::kWaitMs));
                loopback::sendAll(fd, "+OK go ahead\r\n");
            }
            tls_peer::SocketTlsServer tls(fd, c.credential);
            if (tls.handshake("+OK ready\r\n"))
                heard += tls.readUntil("\r\n");
        });
        const Outcome run = Run({"fetch", "--server", "127.0.0.1", "--port", std::to_string(server.port()), "--user",
                                 "demo", "--timeout", "5", "--quiet", "--tls", c.mode, "--ca-file",
                                 tls_peer::Pki().caFile});
        server.join();
        EXPECT_EQ(run.exitCode, EX_UNAVAILABLE) << run.err;
        EXPECT_NE(run.err.find("TLS failed: certificate verification failed: " + c.says), std::string::npos) << run.err;
        EXPECT_EQ(heard, implicit ? "" : "CAPA\r\nSTLS\r\n");
    }
}

TEST_F(FetchCommand, NewWithoutUniqueIdsAtTheServerSavesNothing)
{
    Pop3Peer peer(Mailbox{{kGood}});
    const Outcome run = Run(Fetch(peer, {"--new", "--save-dir", save_.string()}));
    EXPECT_EQ(run.exitCode, EX_UNAVAILABLE) << run.err;
    EXPECT_NE(run.err.find("no unique ids"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_empty(save_));
    EXPECT_FALSE(peer.heard("RETR 1"));
}

} // namespace
} // namespace tolmail::cli

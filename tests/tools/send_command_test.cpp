// The tolmail send command run whole against a scripted loopback SMTP peer: which file
// its progress lines name, ready messages, --dry-run, and --tls with its certificate
// options.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sysexits.h>

#include "support/command_process.h"
#include "support/loopback_peer.h"
#include "support/tls_smtp_peer.h"
#include "support/tls_test_peer.h"

namespace {

namespace fs = std::filesystem;
using namespace loopback;

/// A server that accepts `transactions` messages for `recipients` recipients each on
/// one connection, then QUIT.
Script Accepting(int transactions, int recipients = 1)
{
    Script script{Say("220 ready\r\n"), Hear(), Say("250 hello\r\n")};
    for (int i = 0; i < transactions; ++i) {
        script.insert(script.end(), {Hear(), Say("250 sender ok\r\n")});
        for (int r = 0; r < recipients; ++r)
            script.insert(script.end(), {Hear(), Say("250 recipient ok\r\n")});
        script.insert(script.end(), {Hear(), Say("354 go ahead\r\n")});
        script.push_back(HearData());
        script.push_back(Say("250 queued\r\n"));
    }
    script.push_back(Hear());
    script.push_back(Say("221 bye\r\n"));
    return script;
}

/// Each progress line's name and total, in order, one entry per run of lines of a name.
std::vector<std::pair<std::string, long>> ProgressNames(const std::string& err)
{
    std::vector<std::pair<std::string, long>> names;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        // "NAME: DONE of TOTAL bytes (P%)"
        const size_t unit = line.rfind(" bytes (");
        const size_t of = unit == std::string::npos ? unit : line.rfind(" of ", unit);
        const size_t colon = of == std::string::npos ? of : line.rfind(": ", of);
        if (colon == std::string::npos)
            continue;
        const std::pair<std::string, long> entry{line.substr(0, colon), std::stol(line.substr(of + 4, unit - of - 4))};
        if (names.empty() || names.back() != entry)
            names.push_back(entry);
    }
    return names;
}

TEST(SendCommand, ProgressNamesEachAttachmentAnEmptyOneBeforeItIncluded)
{
    std::string base = (fs::temp_directory_path() / "tolmail-send-XXXXXX").string();
    ASSERT_NE(::mkdtemp(base.data()), nullptr);
    const fs::path root = base;
    std::ofstream(root / "empty.txt").flush();
    std::ofstream(root / "data.bin", std::ios::binary) << std::string(5000, 'x');

    // An empty file raises no chunk event, only the end of its encoding; plain mode
    // sends each file in a transaction of its own.
    struct Case {
        const char* mode;
        int transactions;
    };
    for (const Case c : {Case{"", 1}, Case{"--plain", 3}}) {
        SCOPED_TRACE(*c.mode ? c.mode : "MIME");
        ScriptedPeer peer({Accepting(c.transactions)});
        command::Launch launch({"send", "--server", "127.0.0.1", "--port", std::to_string(peer.port()), "--timeout",
                                "5", "--from", "ann@example.test", "--to", "bob@example.test", "--attach",
                                (root / "empty.txt").string(), "--attach", (root / "data.bin").string()});
        if (*c.mode)
            launch.args.push_back(c.mode);
        launch.errors = (root / "err").string();
        const pid_t pid = command::Start(std::move(launch));
        const int status = pid < 0 ? -1 : command::Wait(pid);
        peer.finish();
        const std::string err = command::Contents(root / "err");
        ASSERT_EQ(command::ExitCode(status), 0) << err;
        EXPECT_EQ(ProgressNames(err), (std::vector<std::pair<std::string, long>>{{"empty.txt", 0}, {"data.bin", 5000}}))
            << err;
    }
    fs::remove_all(root);
}

/// A private directory for one test's files, removed at its end.
struct Scratch {
    Scratch()
    {
        std::string base = (fs::temp_directory_path() / "tolmail-send-XXXXXX").string();
        if (::mkdtemp(base.data()) != nullptr)
            root = base;
    }
    ~Scratch() { fs::remove_all(root); }
    fs::path file(const std::string& name, const std::string& contents) const
    {
        std::ofstream(root / name, std::ios::binary) << contents;
        return root / name;
    }
    fs::path root;
};

struct Outcome {
    int exitCode;
    std::string out, err;
};

/// Runs the command with the scratch directory's "tmp" as its TMPDIR.
Outcome RunCommand(const Scratch& scratch, std::vector<std::string> args, const std::string& input = "/dev/null")
{
    fs::create_directories(scratch.root / "tmp");
    command::Launch launch(std::move(args), {"TMPDIR=" + (scratch.root / "tmp").string()});
    launch.input = input;
    launch.output = (scratch.root / "out").string();
    launch.errors = (scratch.root / "err").string();
    const pid_t pid = command::Start(std::move(launch));
    const int status = pid < 0 ? -1 : command::Wait(pid);
    return {command::ExitCode(status), command::Contents(scratch.root / "out"),
            command::Contents(scratch.root / "err")};
}

/// The data section of a dialogue, still stuffed, without its end-of-data line.
std::string DataSection(const std::string& dialogue)
{
    const size_t begin = dialogue.find("\r\nDATA\r\n");
    const size_t end = dialogue.find("\r\n.\r\n", begin + 6);
    if (begin == std::string::npos || end == std::string::npos)
        return "";
    return dialogue.substr(begin + 8, end + 2 - begin - 8);
}

std::vector<std::string> Recipients(const std::string& dialogue)
{
    std::vector<std::string> found;
    for (size_t at = 0; (at = dialogue.find("RCPT TO: <", at)) != std::string::npos; at += 10)
        found.push_back(dialogue.substr(at + 10, dialogue.find('>', at) - at - 10));
    return found;
}

const std::string kReady = "From: \"Doe, Ann\" <ann@example.test>\n"
                           "To: \"Smith, Bob\" <bob@example.test>, Friends: carl@example.test, dora@example.test;\n"
                           "Cc: undisclosed-recipients:;\n"
                           "Bcc: hidden@example.test,\n"
                           " (the boss) boss@example.test\n"
                           "Subject: ready made\n"
                           "\n"
                           ".a dotted line\n"
                           "Bcc: in the body stays\n"
                           "no last line end";

TEST(SendCommand, AReadyMessageGoesAsItStandsWithItsEnvelope)
{
    Scratch scratch;
    const std::string file = scratch.file("ready.eml", kReady).string();
    const std::string crlf = "From: \"Doe, Ann\" <ann@example.test>\r\n"
                             "To: \"Smith, Bob\" <bob@example.test>, Friends: carl@example.test, dora@example.test;\r\n"
                             "Cc: undisclosed-recipients:;\r\n";
    const std::string bcc = "Bcc: hidden@example.test,\r\n (the boss) boss@example.test\r\n";
    const std::string rest = "Subject: ready made\r\n\r\n..a dotted line\r\nBcc: in the body stays\r\n"
                             "no last line end\r\n";
    const struct {
        const char* name;
        std::vector<std::string> args;
        bool fromStdin;
        std::vector<std::string> recipients;
        std::string data;
        std::string from = "ann@example.test";
    } cases[] = {
        {"--message FILE",
         {"--message", file, "-f", "zed@example.test", "--to", "x@example.test", "--bcc", "y@example.test"},
         false, {"x@example.test", "y@example.test"}, crlf + bcc + rest, "zed@example.test"},
        {"--message -", {"--message", "-", "-f", "zed@example.test", "--cc", "x@example.test"}, true,
         {"x@example.test"}, crlf + bcc + rest, "zed@example.test"},
        {"-t from a file, one more given",
         {"-t", "--message", file, "--to", "extra@example.test", "--cc", "BOB@example.test"}, false,
         {"extra@example.test", "BOB@example.test", "carl@example.test", "dora@example.test", "hidden@example.test",
          "boss@example.test"},
         crlf + rest},
        {"-t from standard input", {"--read-recipients"}, true,
         {"bob@example.test", "carl@example.test", "dora@example.test", "hidden@example.test", "boss@example.test"},
         crlf + rest},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({Accepting(1, static_cast<int>(c.recipients.size()))});
        std::vector<std::string> args{"send", "--server", "127.0.0.1", "--port", std::to_string(peer.port()),
                                      "--timeout", "5", "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome run = RunCommand(scratch, args, c.fromStdin ? file : "/dev/null");
        const std::string dialogue = peer.finish()[0];
        EXPECT_EQ(run.exitCode, EX_OK) << run.err;
        EXPECT_NE(dialogue.find("MAIL FROM: <" + c.from + ">\r\n"), std::string::npos) << dialogue;
        EXPECT_EQ(Recipients(dialogue), c.recipients);
        EXPECT_EQ(DataSection(dialogue), c.data);
        EXPECT_EQ(run.out, "");
    }
    // The private copies of standard input and of the messages without Bcc are gone.
    EXPECT_TRUE(fs::is_empty(scratch.root / "tmp"));
}

TEST(SendCommand, DryRunPrintsTheMessageAndConnectsNowhere)
{
    if (::access("/usr/bin/python3", X_OK) != 0)
        GTEST_SKIP() << "python3 is needed to read the message back";
    Scratch scratch;
    const std::string attachment = scratch.file("notes.txt", "first\n.second\n").string();
    const std::string ready = scratch.file("ready.eml", kReady).string();
    const std::string port = std::to_string(freePort());  // nothing listens there
    // Python's reader prints what a mail program would see.
    const std::string reader = scratch.file("read.py",
        "import email, email.policy, sys\n"
        "m = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.default)\n"
        "print('subject=' + str(m['subject']))\n"
        "print('from=' + m['from'].addresses[0].addr_spec)\n"
        "print('bcc=' + str(m['bcc']))\n"
        "for part in m.iter_attachments():\n"
        "    print('attachment=' + part.get_filename() + ':' + part.get_content().decode())\n"
        "print('body=' + (m.get_body(('plain',)).get_content().strip() if m.get_body(('plain',)) else ''))\n").string();
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string seen;
        std::string envelope;
    } cases[] = {
        {"composed", {"-f", "ann@example.test", "--from-name", "Ann", "--to", "Bob <bob@example.test>", "--bcc",
          "hidden@example.test", "-j", "Hello there", "-a", attachment, "-b", ready},
         "subject=Hello there\nfrom=ann@example.test\nbcc=None\nattachment=notes.txt:first\n.second\n",
         "envelope: from <ann@example.test> to <bob@example.test>, <hidden@example.test>\n"},
        {"ready, -t", {"-t", "--message", ready},
         "subject=ready made\nfrom=ann@example.test\nbcc=None\nbody=.a dotted line\nBcc: in the body stays\n"
         "no last line end\n",
         "envelope: from <ann@example.test> to <bob@example.test>, <carl@example.test>, <dora@example.test>, "
         "<hidden@example.test>, <boss@example.test>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"send", "--server", "127.0.0.1", "--port", port, "--dry-run", "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome run = RunCommand(scratch, args);
        ASSERT_EQ(run.exitCode, EX_OK) << run.err;
        EXPECT_EQ(run.err, c.envelope);
        scratch.file("printed.eml", run.out);
        const std::string command = "/usr/bin/python3 " + reader + " " + (scratch.root / "printed.eml").string() +
                                    " > " + (scratch.root / "seen").string() + " 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command::Contents(scratch.root / "seen");
        const std::string seen = command::Contents(scratch.root / "seen");
        EXPECT_EQ(seen.substr(0, c.seen.size()), c.seen) << seen;
    }
}

TEST(SendCommand, NamesSubjectAndTextKeepEveryCharacter)
{
    if (::access("/usr/bin/python3", X_OK) != 0)
        GTEST_SKIP() << "python3 is needed to read the message back";
    Scratch scratch;
    const std::string attachment = scratch.file("Résumé – 2026.txt", "résumé\n").string();
    const std::string latin1 = scratch.file("latin1.txt", "Gr\xFC\xDF" "e\n").string();
    const std::string utf8 = scratch.file("utf8.txt", "Grüße – 你好\n").string();
    const std::string port = std::to_string(freePort());
    const std::vector<std::string> people = {"-f", "zoe@example.net", "--from-name", "Zoë Ångström", "--to",
                                             "王小明 <wang@example.test>", "--cc", "\"Smith, Bob\" <bob@example.test>",
                                             "--to", "ivan.petrov@example.test", "-j", "Привет 😀"};
    const std::string heard = "subject=Привет 😀\nfrom=Zoë Ångström|zoe@example.net\nto=王小明|wang@example.test\n"
                              "to=ivan.petrov|ivan.petrov@example.test\ncc=Smith, Bob|bob@example.test\n";
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string seen;
        std::string declared;
    } cases[] = {
        {"UTF-8 by default", {"-b", utf8, "-a", attachment},
         heard + "attachment=Résumé – 2026.txt|" + "72c3a973756dc3a90a" + "\ntext=Grüße – 你好\n",
         "charset=\"UTF-8\""},
        // The bytes go under the charset named, unchanged; the header text stays UTF-8.
        {"--charset names what the bytes are", {"-b", latin1, "--charset", "ISO-8859-1"},
         heard + "text=Grüße\n", "charset=ISO-8859-1\r\nContent-Transfer-Encoding: 8bit\r\n\r\nGr\xFC\xDF" "e"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"send", "--server", "127.0.0.1", "--port", port, "--dry-run", "-q"};
        args.insert(args.end(), people.begin(), people.end());
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome run = RunCommand(scratch, args);
        ASSERT_EQ(run.exitCode, EX_OK) << run.err;
        EXPECT_NE(run.out.find(c.declared), std::string::npos) << run.out;
        const fs::path printed = scratch.file("printed.eml", run.out);
        const std::string command = "/usr/bin/python3 " TOLMAIL_TESTS_DIR "/smtp/read_message.py " +
                                    printed.string() + " > " + (scratch.root / "seen").string() + " 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command::Contents(scratch.root / "seen");
        EXPECT_EQ(command::Contents(scratch.root / "seen"), c.seen);
    }
}

TEST(SendCommand, AReadyMessageRefusesWhatWouldBeIgnoredAndNeedsSomeoneToSendTo)
{
    Scratch scratch;
    const std::string ready = scratch.file("ready.eml", kReady).string();
    const std::string nobody =
        scratch.file("nobody.eml", "From: ann@example.test\nTo: undisclosed:;\n\ntext\n").string();
    const std::string anonymous = scratch.file("anonymous.eml", "To: bob@example.test\n\ntext\n").string();
    const std::string port = std::to_string(freePort());
    const struct {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string says;
    } cases[] = {
        {"--subject beside --message",
         {"--message", ready, "-f", "a@example.test", "--to", "b@example.test", "-j", "x"},
         EX_USAGE, "--subject cannot be used with --message"},
        {"--attach beside -t", {"-t", "--message", ready, "-a", ready}, EX_USAGE, "--attach cannot be used with"},
        {"--message without recipients", {"--message", ready, "-f", "a@example.test"}, EX_USAGE, "are required"},
        {"-t, nobody named", {"-t", "--message", nobody}, EX_DATAERR, "no recipients"},
        {"-t, no sender", {"-t", "--message", anonymous}, EX_DATAERR, "no From field"},
        {"missing file", {"--message", (scratch.root / "gone").string(), "-f", "a@example.test", "--to",
          "b@example.test"}, EX_NOINPUT, "No such file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"send", "--server", "127.0.0.1", "--port", port, "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome run = RunCommand(scratch, args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

} // namespace

TEST(SendCommand, TlsModesAndTheCertificateOptions)
{
    Scratch scratch;
    const fs::path body = scratch.file("body.txt", "the secret plans\n");
    enum class Sent { Encrypted, Clear, Nothing };
    const struct {
        const char* name;
        const tls_peer::Credential* certificate;
        bool implicit;
        std::vector<std::string> options;
        int status;
        Sent mail;
        const char* says;  // on standard error; null: nothing
    } cases[] = {
        {"auto takes STARTTLS", &tls_peer::Pki().good, false, {"--ca-file", tls_peer::Pki().caFile}, EX_OK,
         Sent::Encrypted, nullptr},
        {"implicit", &tls_peer::Pki().good, true, {"--tls", "implicit", "--ca-file", tls_peer::Pki().caFile}, EX_OK,
         Sent::Encrypted, nullptr},
        {"off stays in clear", &tls_peer::Pki().good, false, {"--tls", "off"}, EX_OK, Sent::Clear, nullptr},
        {"-v tells when TLS starts", &tls_peer::Pki().good, false, {"-v", "--ca-file", tls_peer::Pki().caFile}, EX_OK,
         Sent::Encrypted, "< 220 go ahead\n< [TLS started: TLSv1."},
        {"an authority not trusted", &tls_peer::Pki().unknownIssuer, false,
         {"--tls", "starttls", "--ca-file", tls_peer::Pki().caFile}, EX_UNAVAILABLE, Sent::Nothing,
         "TLS failed: certificate verification failed: the certificate was not issued by a trusted authority"},
        {"--insecure takes it, and says so", &tls_peer::Pki().unknownIssuer, false, {"--tls", "starttls", "--insecure"},
         EX_OK, Sent::Encrypted, "warning: --insecure"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tls_peer::ServerPlan plan;
        plan.certificate = c.certificate;
        plan.implicit = c.implicit;
        tls_peer::TlsSmtpServer server(plan);
        std::vector<std::string> args = {"send", "-q", "--server", "127.0.0.1", "--port",
                                         std::to_string(server.peer.port()), "--timeout", "5", "--from",
                                         "ann@example.test", "--to", "bob@example.test", "--body", body.string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Outcome run = RunCommand(scratch, args);
        server.peer.join();
        EXPECT_EQ(run.exitCode, c.status) << run.err;
        if (c.says) {
            const size_t at = run.err.find(c.says);
            EXPECT_NE(at, std::string::npos) << run.err;
            EXPECT_EQ(run.err.find(c.says, at + 1), std::string::npos) << "said once: " << run.err;
        } else {
            EXPECT_EQ(run.err, "");
        }
        EXPECT_EQ(server.clearHeard.find("the secret plans") != std::string::npos, c.mail == Sent::Clear);
        EXPECT_EQ(server.secureHeard.find("the secret plans") != std::string::npos, c.mail == Sent::Encrypted);
        if (c.mail == Sent::Clear) {
            EXPECT_TRUE(server.clearHeard.starts_with("HELO ")) << "off: the session of old, no EHLO";
        }
    }
}

TEST(SendCommand, TlsSettingsFromAnAccount)
{
    Scratch scratch;
    const fs::path body = scratch.file("body.txt", "the secret plans\n");
    const struct {
        const char* name;
        std::string account;
        int status;
        bool encrypted;
        const char* says;
    } cases[] = {
        {"tls off", "tls off\n", EX_OK, false, nullptr},
        {"the account's authority", "ca-file " + tls_peer::Pki().caFile + "\n", EX_OK, true, nullptr},
        {"insecure yes", "insecure yes\n", EX_OK, true, "warning: --insecure"},
        {"insecure no keeps the check", "insecure no\n", EX_UNAVAILABLE, false, "not issued by a trusted authority"},
        {"insecure, some other word", "insecure maybe\n", EX_CONFIG, false, "config:2: --insecure: 'maybe' is none of yes, no"},
        {"charset out of range", "charset 7\n", EX_CONFIG, false, "config:2: --charset: 7 is out of range"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path config = scratch.file("config", "defaults\n" + c.account);
        fs::permissions(config, fs::perms::owner_read | fs::perms::owner_write);
        tls_peer::ServerPlan plan;
        plan.certificate = c.encrypted && !c.says ? &tls_peer::Pki().good : &tls_peer::Pki().unknownIssuer;
        tls_peer::TlsSmtpServer server(plan);
        const Outcome run = RunCommand(scratch, {"send", "-q", "--config", config.string(), "--server", "127.0.0.1",
                                                 "--port", std::to_string(server.peer.port()), "--timeout", "5",
                                                 "--from", "ann@example.test", "--to", "bob@example.test", "--body",
                                                 body.string()});
        EXPECT_EQ(run.exitCode, c.status) << run.err;
        if (c.says) {
            EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        }
        if (c.status == EX_OK) {
            EXPECT_EQ(server.secureHeard.find("the secret plans") != std::string::npos, c.encrypted);
        }
    }
}

// The tolmail send command run whole against a scripted loopback SMTP peer: which file
// its progress lines name.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/command_process.h"
#include "support/loopback_peer.h"

namespace {

namespace fs = std::filesystem;
using namespace loopback;

/// A server that accepts `transactions` messages on one connection, then QUIT.
Script Accepting(int transactions)
{
    Script script{Say("220 ready\r\n"), Hear(), Say("250 hello\r\n")};
    for (int i = 0; i < transactions; ++i) {
        for (const char* reply : {"250 sender ok\r\n", "250 recipient ok\r\n", "354 go ahead\r\n"}) {
            script.push_back(Hear());
            script.push_back(Say(reply));
        }
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

} // namespace

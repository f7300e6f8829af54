// Runs under Wine: the command's Windows services where they differ from POSIX: names a
// mail gives made safe for this system, exclusive files and links in a save directory,
// Maildir delivery (tmp/ then new/), and the help naming this system's places.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "check.h"
#include "exit_status.h"
#include "maildir.h"
#include "save_dir.h"
#include "system.h"
#include "tolmail/file_codes.h"

using windows_test::check;
using namespace tolmail;
namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void namesHoldOnlyWhatWindowsTakes()
{
    const struct {
        const char* raw;
        const char* safe;
    } cases[] = {
        {"report:secret.txt", "report_secret.txt"},  // not a stream of "report"
        {"a<b>|c?\"*.pdf", "a_b__c___.pdf"},
        {"nul.txt", "_nul.txt"},
        {"CON", "_CON"},
        {"com1 .log", "_com1 .log"},
        {"lpt9", "_lpt9"},
        {"com10.txt", "com10.txt"},
        {"console.txt", "console.txt"},
        {"notes. . .", "notes"},
        {"C:\\Users\\x\\plan.doc", "plan.doc"},
        {"...", "fallback"},
    };
    for (const auto& c : cases) {
        const std::string safe = cli::SafeFileName(c.raw, "fallback");
        check(safe == c.safe, std::string("SafeFileName ") + c.raw + " gives " + safe);
    }
}

void saveDirectoryNeverReplaces(const fs::path& base)
{
    fs::create_directories(base / "save");
    const cli::SaveDir dir((base / "save").string());
    check(dir.ok(), "a save directory opens");
    check(dir.writeNew("a.txt", "one") == file_result::Ok, "writeNew makes a new file");
    check(dir.writeNew("a.txt", "two") == file_result::Exists && Read(base / "save" / "a.txt") == "one",
          "writeNew keeps an existing file");
    std::ofstream(base / "part.bin", std::ios::binary) << "cached";
    check(dir.adopt("b.bin", (base / "part.bin").string()) == file_result::Ok && !fs::exists(base / "part.bin") &&
              Read(base / "save" / "b.bin") == "cached",
          "adopt moves a finished file in");
    std::ofstream(base / "part.bin", std::ios::binary) << "again";
    check(dir.adopt("b.bin", (base / "part.bin").string()) == file_result::Exists, "adopt keeps an existing file");
    check(dir.adopt("c.bin", (base / "gone.bin").string()) == file_result::Missing, "adopt of nothing is Missing");
}

void maildirDeliversWhole(const fs::path& base)
{
    std::ofstream(base / "message.eml", std::ios::binary) << "Subject: x\r\n\r\nline\r\nlone\rcr\r\n";
    cli::Maildir maildir((base / "Maildir").string());
    check(maildir.ok(), "a Maildir is made: " + maildir.why());
    const cli::Delivery first = maildir.deliver((base / "message.eml").string());
    const cli::Delivery second = maildir.deliver((base / "message.eml").string());
    check(first.status == EX_OK && second.status == EX_OK && first.name != second.name,
          "two deliveries, two names: " + first.why + second.why);
    check(Read(base / "Maildir" / first.name) == "Subject: x\n\nline\nlone\rcr\n" && first.bytes == 25,
          "the delivered message has LF line ends and its size");
    check(fs::is_empty(base / "Maildir" / "tmp"), "nothing stays in tmp/");
}

void helpNamesWindowsPlaces()
{
    const std::string help = cli::sys::HelpText("a ~/.netrc entry (owner-only), or $XDG_CONFIG_HOME/tolmail/config, "
                                                "else\n                            ~/.config/tolmail/config); owner-only, "
                                                "or refused; /bin/sh -c");
    check(help == "a %USERPROFILE%\\_netrc entry, or %APPDATA%\\tolmail\\config); cmd /c", "help text: " + help);
}

} // namespace

int main()
{
    const fs::path base = fs::temp_directory_path() / ("tolmail-command-checks-" + std::to_string(cli::sys::ProcessId()));
    fs::remove_all(base);
    fs::create_directories(base);
    namesHoldOnlyWhatWindowsTakes();
    saveDirectoryNeverReplaces(base);
    maildirDeliversWhole(base);
    helpNamesWindowsPlaces();
    fs::remove_all(base);
    return windows_test::finish();
}

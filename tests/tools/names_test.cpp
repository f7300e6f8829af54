// The command's defences against hostile text: names from a mail made safe as files in
// the save directory, and text from a peer made safe for the terminal.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "save_dir.h"
#include "terminal_text.h"

namespace tolmail::cli {
namespace {

namespace fs = std::filesystem;

std::string Repeat(const std::string& piece, size_t times)
{
    std::string text;
    for (size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

std::string Contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SafeFileName, HostileNames)
{
    const struct {
        std::string raw, expected;
    } cases[] = {
        {"report.pdf", "report.pdf"},
        {"../../etc/passwd", "passwd"},
        {"C:\\Users\\x\\evil.exe", "evil.exe"},
        {"dir/", "fallback"},
        {".bashrc", "bashrc"},
        {" . ..hidden  ", "hidden"},
        {"...", "fallback"},
        {"", "fallback"},
        {"a\x1b[31m\r\n\x7f" "b.txt", "a[31mb.txt"},
        // C1 controls and direction overrides go; letters made of the same lead bytes stay.
        {"a\xc2\x85\xc2\x9f" "b\xc2\xa0.txt", "ab\xc2\xa0.txt"},
        {"invoice\xe2\x80\xaegpj.exe", "invoicegpj.exe"},
        {"x\xe2\x81\xa6y\xe2\x80\x94z", "xy\xe2\x80\x94z"},
        // Cut before the dot rule: the last 200 bytes of these start with dots.
        {Repeat("a", 9800) + "." + Repeat("b", 199), Repeat("b", 199)},
        {'x' + Repeat(".", 300), "fallback"},
        {Repeat("x", 10000) + ".pdf", Repeat("x", 196) + ".pdf"},
        // ... and never inside a UTF-8 character.
        {Repeat("\xc3\xa9", 150) + "z", Repeat("\xc3\xa9", 99) + "z"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SafeFileName(c.raw, "fallback"), c.expected) << c.raw.substr(0, 40);
}

class SaveDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string base = (fs::temp_directory_path() / "tolmail-names-XXXXXX").string();
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        root_ = base;
        fs::create_directory(root_ / "save");
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path root_;
};

TEST_F(SaveDirTest, NeverOverwritesNorFollowsLinks)
{
    const struct {
        std::string mailName, existing, chosen;
        bool link;
    } cases[] = {
        {".bashrc", ".bashrc", "bashrc", false},  // an existing dot file is left alone
        {"a.txt", "a.txt", "a-1.txt", false},
        {"b.txt", "b.txt", "b-1.txt", true},      // a link is a taken name, never a way out
        {"../c", "c", "c-1", false},
    };
    SaveDir dir((root_ / "save").string());
    ASSERT_TRUE(dir.ok());
    for (const auto& c : cases) {
        const fs::path existing = root_ / "save" / c.existing;
        if (c.link)
            fs::create_symlink(root_ / "outside", existing);
        else
            std::ofstream(existing) << "mine";
        std::string chosen;
        const std::string name = SafeFileName(c.mailName, "x");
        EXPECT_EQ(dir.create(name, [&](const std::string& path) { return dir.writeNew(fs::path(path).filename(), "mail"); },
                             chosen),
                  0);
        EXPECT_EQ(chosen, c.chosen);
        EXPECT_EQ(Contents(root_ / "save" / chosen), "mail");
        if (c.link)
            EXPECT_FALSE(fs::exists(root_ / "outside"));
        else
            EXPECT_EQ(Contents(existing), "mine");
    }
}

TEST_F(SaveDirTest, AdoptMovesOrCopiesAFinishedFile)
{
    SaveDir dir((root_ / "save").string());
    std::ofstream(root_ / "save" / "taken") << "mine";
    // The cache on the same file system (moved) and, where there is one, on another (copied).
    std::vector<fs::path> caches{root_};
    struct stat here {}, shm {};
    if (::stat(root_.c_str(), &here) == 0 && ::stat("/dev/shm", &shm) == 0 && here.st_dev != shm.st_dev)
        caches.push_back("/dev/shm");
    for (const fs::path& cache : caches) {
        const fs::path source = cache / ("tolmail-adopt-" + std::to_string(::getpid()));
        std::ofstream(source) << "text";
        EXPECT_EQ(dir.adopt("taken", source.string()), 1);
        EXPECT_EQ(Contents(root_ / "save" / "taken"), "mine");
        EXPECT_EQ(dir.adopt("text-" + cache.filename().string(), source.string()), 0);
        EXPECT_EQ(Contents(root_ / "save" / ("text-" + cache.filename().string())), "text");
        fs::remove(source);
        EXPECT_EQ(dir.adopt("gone", source.string()), 32);
        EXPECT_FALSE(fs::exists(root_ / "save" / "gone"));
    }
}

TEST(Printable, EscapesWhatATerminalWouldObeyAndCapsEachField)
{
    const struct {
        std::string raw, shown;
        size_t limit = kLongestPrintedField;
    } cases[] = {
        {"Quarterly report", "Quarterly report"},
        {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
        {"a\x1b]0;owned\x07z", "a\\x1b]0;owned\\x07z"},
        {"line\r\nnext\tend\x7f", "line\\r\\nnext\\tend\\x7f"},
        {std::string("nul\0!", 5), "nul\\x00!"},
        {"\xc2\x9b" "2J", "\\u{9b}2J"},                       // C1 CSI in UTF-8
        {"\x9b" "2J", "\\x9b2J"},                             // ... and as a raw byte
        {"evil\xe2\x80\xaetxt.exe", "evil\\u{202e}txt.exe"},  // right-to-left override
        {"\xff\xfe", "\\xff\\xfe"},
        {"\xc0\xaf", "\\xc0\\xaf"},          // overlong "/"
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"}, // a surrogate
        {"cut \xe2\x82", "cut \\xe2\\x82"},  // a character cut short at the end
        // The cap: in characters, not bytes; escapes count with their width and are never cut in two.
        {std::string(10 << 20, 'A'), std::string(200, 'A') + "..."},
        {Repeat("\xc3\xa9", 300), Repeat("\xc3\xa9", 200) + "..."},
        {std::string(100000, '\x1b'), Repeat("\\x1b", 50) + "..."},
        {"ab\x1b", "ab...", 5},
        {"abcde", "abcde", 5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Printable(c.raw, c.limit), c.shown) << c.raw.substr(0, 40);
}

} // namespace
} // namespace tolmail::cli

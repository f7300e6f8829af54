// Temporary file names and the FileResult codes of the whole-file routines.
#include "codec/temp_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/clock.h"
#include "support/portable.h"

using namespace tolmail::codec;
namespace file_result = tolmail::file_result;
namespace fs = std::filesystem;

namespace {

class TempFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string pattern = portable::MakeTempDir("tolmail-tf");
        ASSERT_FALSE(pattern.empty());
        dir_ = pattern + "/";
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return dir_ + name; }
    static std::string contents(const std::string& p)
    {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string dir_;
};

} // namespace

TEST(TempFileName, TickCountAndExtension)
{
    // Both names come from one tick unless the clock moved between the readings.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int32_t before = tolmail::platform::TickCount();
        const std::string a = TempFileName();
        const std::string b = TempFileName();
        const std::string c = TempFileName(".TMB");
        if (tolmail::platform::TickCount() != before)
            continue;
        EXPECT_EQ(a, b);
        EXPECT_EQ(a, std::to_string(before) + ".TMA");
        EXPECT_EQ(c, std::to_string(before) + ".TMB");
        return;
    }
    GTEST_SKIP() << "the tick count moved during every attempt";
}

TEST_F(TempFilesTest, WriteCreateNewAndAppend)
{
    const std::string p = path("1.TMA");
    EXPECT_EQ(WriteFileData(p, "", true), file_result::Ok);
    EXPECT_TRUE(fs::exists(p));
    EXPECT_EQ(fs::file_size(p), 0u);
#ifndef _WIN32
    // Windows keeps the owner-only rule in the file's access list, not in mode bits.
    EXPECT_EQ(fs::status(p).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
#endif

    EXPECT_EQ(WriteFileData(p, "abc", false), file_result::Ok);
    EXPECT_EQ(WriteFileData(p, std::string("\0\xff", 2), false), file_result::Ok);
    EXPECT_EQ(contents(p), std::string("abc\0\xff", 5));

    // An existing file in create-new mode: 1, and the file is left alone.
    EXPECT_EQ(WriteFileData(p, "zzz", true), file_result::Exists);
    EXPECT_EQ(contents(p), std::string("abc\0\xff", 5));
}

TEST_F(TempFilesTest, CreateNewNeverWritesThroughALink)
{
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege that a test cannot count on";
#endif
    const std::string target = path("target");
    const std::string link = path("link.TMA");
    fs::create_symlink(target, link);  // dangling: the target does not exist yet
    EXPECT_EQ(WriteFileData(link, "x", true), file_result::Exists);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(WriteFileData(link, "x", false), file_result::PermissionDenied);
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(TempFilesTest, ReadWholeFile)
{
    std::string data(40000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 31 + 7);
    ASSERT_EQ(WriteFileData(path("big"), data, true), file_result::Ok);
    std::string content = "prefix";
    EXPECT_EQ(ReadWholeFile(path("big"), content), file_result::Ok);
    EXPECT_EQ(content, "prefix" + data);

    ASSERT_EQ(WriteFileData(path("empty"), "", true), file_result::Ok);
    content = "x";
    EXPECT_EQ(ReadWholeFile(path("empty"), content), file_result::Ok);
    EXPECT_EQ(content, "x");

    EXPECT_EQ(ReadWholeFile(path("missing"), content), file_result::Missing);
    fs::create_directory(path("adir"));
    EXPECT_EQ(ReadWholeFile(path("adir"), content), file_result::Missing);
    EXPECT_EQ(content, "x");
}

TEST_F(TempFilesTest, DeleteFileIfPresent)
{
    EXPECT_EQ(DeleteFileIfPresent(path("missing")), file_result::Missing);
    ASSERT_EQ(WriteFileData(path("f"), "x", true), file_result::Ok);
    EXPECT_EQ(DeleteFileIfPresent(path("f")), file_result::Ok);
    EXPECT_FALSE(fs::exists(path("f")));
}

TEST_F(TempFilesTest, PathNotFound)
{
    EXPECT_EQ(WriteFileData(path("no/such/dir/f.TMA"), "x", true), file_result::PathNotFound);
    EXPECT_EQ(WriteFileData(path("no/such/dir/f.TMA"), "x", false), file_result::PathNotFound);
    // A cache directory without its trailing separator puts the file beside it.
    const std::string cache = dir_ + "cache";
    fs::create_directory(cache);
    ASSERT_EQ(WriteFileData(cache + "1.TMA", "x", true), file_result::Ok);
    EXPECT_TRUE(fs::exists(dir_ + "cache1.TMA"));
}

TEST_F(TempFilesTest, ReadOnlyDirectory)
{
#ifdef _WIN32
    GTEST_SKIP() << "a directory's permission bits do not stop writes on Windows";
#else
    if (geteuid() != 0) {
        const std::string locked = dir_ + "locked";
        fs::create_directory(locked);
        ASSERT_EQ(WriteFileData(locked + "/f", "x", true), file_result::Ok);
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(WriteFileData(locked + "/g", "x", true), file_result::PermissionDenied);
        EXPECT_EQ(DeleteFileIfPresent(locked + "/f"), file_result::PermissionDenied);
        fs::permissions(locked, fs::perms::owner_all);
        return;
    }
    // Directory permissions do not bind root; the kernel's own file systems still
    // refuse new names and removals.
    if (!fs::is_directory("/sys/kernel") || !fs::exists("/proc/version"))
        GTEST_SKIP() << "running as root without /sys and /proc: no read-only directory to try";
    EXPECT_EQ(WriteFileData("/sys/kernel/tolmail-test.TMA", "x", true), file_result::PermissionDenied);
    EXPECT_EQ(DeleteFileIfPresent("/proc/version"), file_result::PermissionDenied);
#endif
}

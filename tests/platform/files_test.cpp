// File services: the errno table, what counts as an existing file, links refused.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <unistd.h>

using namespace tolmail::platform;
namespace fs = std::filesystem;

TEST(FileServices, ErrnoTable)
{
    EXPECT_EQ(MapErrno(ENOSPC), FileDiskFull);
    EXPECT_EQ(MapErrno(EACCES), FilePermissionDenied);
    EXPECT_EQ(MapErrno(EPERM), FilePermissionDenied);
    EXPECT_EQ(MapErrno(EROFS), FilePermissionDenied);
    EXPECT_EQ(MapErrno(ETXTBSY), FilePermissionDenied);
    EXPECT_EQ(MapErrno(EIO), FileNotReady);
    EXPECT_EQ(MapErrno(ENODEV), FileNotReady);
    EXPECT_EQ(MapErrno(ENOENT), FilePathNotFound);
    EXPECT_EQ(MapErrno(ENOTDIR), FilePathNotFound);
    EXPECT_EQ(MapErrno(EINVAL), FileOtherFailure);
    EXPECT_EQ(MapErrno(0), FileOtherFailure);
}

TEST(FileServices, NormalFilesAndLinks)
{
    std::string pattern = (fs::temp_directory_path() / "tolmail-fs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string dir = pattern + "/";

    FileResult r = FileOtherFailure;
    {
        File f = File::CreateNew(dir + "plain", r);
        ASSERT_EQ(r, FileOk);
        ASSERT_TRUE(f.write("hello", 5, r));
        EXPECT_EQ(f.size(), 5);
    }
    EXPECT_TRUE(IsNormalFile(dir + "plain"));
    EXPECT_FALSE(IsNormalFile(dir));
    EXPECT_FALSE(IsNormalFile(dir + "absent"));
    EXPECT_FALSE(IsNormalFile(""));
    File::CreateNew(dir + ".hidden", r);
    EXPECT_EQ(r, FileOk);
    EXPECT_FALSE(IsNormalFile(dir + ".hidden"));
    EXPECT_EQ(BaseName(dir + "plain"), "plain");
    EXPECT_EQ(BaseName("plain"), "plain");

    // A link to an existing file is never opened for writing.
    fs::create_symlink(dir + "plain", dir + "link");
    EXPECT_FALSE(File::CreateNew(dir + "link", r).isOpen());
    EXPECT_EQ(r, FileExists);
    EXPECT_FALSE(File::OpenAppend(dir + "link", r).isOpen());
    EXPECT_EQ(r, FilePermissionDenied);
    EXPECT_EQ(fs::file_size(dir + "plain"), 5u);

    File in = File::OpenRead(dir + "plain", r);
    char buf[8];
    EXPECT_EQ(in.read(buf, sizeof buf, r), 5);
    EXPECT_EQ(in.read(buf, sizeof buf, r), 0);
    in.close();
    EXPECT_FALSE(in.isOpen());
    EXPECT_FALSE(File::OpenRead(dir + "absent", r).isOpen());
    EXPECT_EQ(r, FilePathNotFound);
    EXPECT_EQ(RemoveFile(dir + "absent"), FilePathNotFound);

    fs::remove_all(dir);
}

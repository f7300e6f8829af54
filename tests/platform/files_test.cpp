// File services: the errno table, what counts as an existing file, reads to the end.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <unistd.h>

using namespace tolmail::platform;
namespace file_result = tolmail::file_result;
namespace fs = std::filesystem;

TEST(FileServices, ErrnoTable)
{
    EXPECT_EQ(MapErrno(ENOSPC), file_result::DiskFull);
    for (int err : {EACCES, EPERM, EROFS, ETXTBSY})
        EXPECT_EQ(MapErrno(err), file_result::PermissionDenied) << err;
    EXPECT_EQ(MapErrno(EIO), file_result::NotReady);
    EXPECT_EQ(MapErrno(ENOENT), file_result::PathNotFound);
    EXPECT_EQ(MapErrno(ENOTDIR), file_result::PathNotFound);
    EXPECT_EQ(MapErrno(EINVAL), file_result::OtherFailure);
}

TEST(FileServices, HiddenFilesAndDirectoriesCountAsAbsent)
{
    std::string dir = (fs::temp_directory_path() / "tolmail-fs-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    FileResult r = file_result::OtherFailure;
    ASSERT_TRUE(File::CreateNew(dir + "/plain", r).write("hello", 5, r));
    File::CreateNew(dir + "/.hidden", r);
    EXPECT_EQ(r, file_result::Ok);
    EXPECT_TRUE(IsNormalFile(dir + "/plain"));
    EXPECT_FALSE(IsNormalFile(dir + "/.hidden"));
    EXPECT_FALSE(IsNormalFile(dir));
    EXPECT_EQ(BaseName(dir + "/plain"), "plain");

    File in = File::OpenRead(dir + "/plain", r);
    EXPECT_EQ(in.size(), 5);
    char buf[8];
    EXPECT_EQ(in.read(buf, sizeof buf, r), 5);
    EXPECT_EQ(in.read(buf, sizeof buf, r), 0);
    EXPECT_EQ(RemoveFile(dir + "/absent"), file_result::PathNotFound);
    fs::remove_all(dir);
}

// The registration file: our lines written and removed exactly, everyone else's kept.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/module_path.h"
#include "server/registration.h"
#include "toy_library.h"

namespace {

namespace fs = std::filesystem;
using tolmail::server::Register;
using tolmail::server::Unregister;

std::string Read(const fs::path& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tolmail-registry-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        file = (dir / "tolmail" / "registry").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
    std::string file;
};

TEST_F(Registration, WritesOurLinesAndKeepsEveryOtherLine)
{
    const std::string foreign = "# hand-written\n"
                                "progid\tOther.Thing\t{00000000-0000-0000-0000-000000000001}\n"
                                "clsid\t{00000000-0000-0000-0000-000000000001}\tThing\tApartment\t/usr/lib/other.so\n";
    fs::create_directories(dir / "tolmail");
    std::ofstream(file) << foreign << "progid\tToy.Counter\t{OLD}\n";  // ours, from a library since moved

    ASSERT_EQ(Register(toy::Library(), file, "/opt/old/libtolmail.so"), TM_S_OK);
    ASSERT_EQ(Register(toy::Library(), file, "/opt/toy/libtolmail.so"), TM_S_OK);
    const std::string ours = "progid\tToy.Counter\t{00000004-1234-5678-0102-030405060708}\n"
                             "clsid\t{00000004-1234-5678-0102-030405060708}\tCounter\tApartment\t/opt/toy/libtolmail.so\n"
                             "typelib\t{00000009-1234-5678-0102-030405060708}\tToy\t2.5\t1033\t/opt/toy/libtolmail.so\n";
    EXPECT_EQ(Read(file), foreign + ours);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "tolmail"), fs::directory_iterator()), 1);

    ASSERT_EQ(Unregister(toy::Library(), file), TM_S_OK);
    EXPECT_EQ(Read(file), foreign);
    ASSERT_EQ(Unregister(toy::Library(), file), TM_S_OK);
    EXPECT_EQ(Read(file), foreign);
}

TEST_F(Registration, RefusesWhatItCannotRecordFaithfully)
{
    EXPECT_EQ(Register(toy::Library(), file, "relative/libtolmail.so"), TM_SELFREG_E_CLASS);
    EXPECT_EQ(Register(toy::Library(), file, ""), TM_SELFREG_E_CLASS);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(Unregister(toy::Library(), file), TM_S_OK);  // nothing registered, nothing to do
    EXPECT_FALSE(fs::exists(file));
    fs::create_directories(dir / "tolmail" / "registry");  // a folder where the file should be
    EXPECT_EQ(Register(toy::Library(), file, "/opt/toy/libtolmail.so"), TM_SELFREG_E_CLASS);
}

TEST_F(Registration, TheFileFollowsTheDataHome)
{
    const char* savedData = std::getenv("XDG_DATA_HOME");
    const std::string keep = savedData ? savedData : "";
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    EXPECT_EQ(tolmail::server::RegistryFile(), file);
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(tolmail::server::RegistryFile(), std::string(std::getenv("HOME")) + "/.local/share/tolmail/registry");
    if (savedData)
        setenv("XDG_DATA_HOME", keep.c_str(), 1);
}

TEST(ModulePath, IsTheAbsolutePathOfThisProgram)
{
    // Linked statically, the library's code lives in the test program itself.
    EXPECT_EQ(tolmail::platform::ModulePath(), fs::canonical("/proc/self/exe").string());
}

} // namespace

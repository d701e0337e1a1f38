// Other tools read the output the way they read the windres-built installer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "pack.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace skinpack_test;

namespace {

bool haveTool(const char *name)
{
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Runs a shell command; returns its stdout, or sets `status`.
std::string capture(const std::string &command, int &status)
{
    std::string out;
    std::FILE *p = popen(command.c_str(), "r");
    if (p == nullptr)
    {
        status = -1;
        return out;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    status = pclose(p);
    return out;
}

class WithTools : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        work = freshFolder("tools");
        const auto stub = stubBytes();
        const auto skin = winterSkin();
        mine = work + "/mine.exe";
        theirs = dataPath("windres_winter.exe");
        skinFile = dataPath("Winter.ovs");
        writeBytes(mine, skinpack::packInstaller(stub.data(), stub.size(), "Winter.ovs", skin.data(), skin.size()));
    }
    void TearDown() override
    {
        fs::remove_all(work);
    }
    std::string work, mine, theirs, skinFile;
};

TEST_F(WithTools, WrestoolListsAndExtractsTheSameResources)
{
    if (!haveTool("wrestool"))
        GTEST_SKIP() << "wrestool (icoutils) is not installed";
    int status = 0;
    // Offsets may differ between layouts; everything else must match.
    const std::regex offsets(" \\[.*\\]");
    const std::string mineList = std::regex_replace(capture("wrestool -l '" + mine + "'", status), offsets, "");
    ASSERT_EQ(status, 0);
    const std::string theirList = std::regex_replace(capture("wrestool -l '" + theirs + "'", status), offsets, "");
    ASSERT_EQ(status, 0);
    EXPECT_EQ(mineList, theirList);
    EXPECT_NE(mineList.find("--type='SKIN'"), std::string::npos) << mineList;

    const char *selections[] = {"--type=SKIN", "--type=3 --name=1", "--type=14 --name=102"};
    for (const char *selection : selections)
    {
        const std::string a = capture("wrestool -x --raw " + std::string(selection) + " '" + mine + "'", status);
        ASSERT_EQ(status, 0) << selection;
        const std::string b = capture("wrestool -x --raw " + std::string(selection) + " '" + theirs + "'", status);
        ASSERT_EQ(status, 0) << selection;
        EXPECT_FALSE(a.empty()) << selection;
        EXPECT_TRUE(a == b) << selection << ": " << a.size() << " bytes, windres-built " << b.size();
    }
    const auto skin = winterSkin();
    const std::string extracted = capture("wrestool -x --raw --type=SKIN '" + mine + "'", status);
    EXPECT_TRUE(extracted == std::string(skin.begin(), skin.end())) << extracted.size() << " vs " << skin.size();
}

TEST_F(WithTools, WindresDecompilesToTheSameScript)
{
    if (!haveTool("i686-w64-mingw32-windres"))
        GTEST_SKIP() << "i686-w64-mingw32-windres is not installed";
    int status = 0;
    const std::string a = capture("i686-w64-mingw32-windres -i '" + mine + "' -O rc", status);
    ASSERT_EQ(status, 0);
    const std::string b = capture("i686-w64-mingw32-windres -i '" + theirs + "' -O rc", status);
    ASSERT_EQ(status, 0);
    EXPECT_NE(a.find("WINTER.OVS"), std::string::npos) << a.substr(0, 200);
    EXPECT_EQ(a, b);
}

TEST_F(WithTools, ObjdumpReadsTheHeaders)
{
    if (!haveTool("i686-w64-mingw32-objdump"))
        GTEST_SKIP() << "i686-w64-mingw32-objdump is not installed";
    int status = 0;
    const std::string a = capture("i686-w64-mingw32-objdump -p '" + mine + "'", status);
    ASSERT_EQ(status, 0);
    const std::string b = capture("i686-w64-mingw32-objdump -p '" + theirs + "'", status);
    ASSERT_EQ(status, 0);
    // Headers, data directories, imports and relocations agree with the
    // linker's output, but for the time stamp and the checksum.
    const auto headers = [](const std::string &dump) {
        const std::size_t begin = dump.find("Characteristics");
        const std::size_t end = dump.find("The .rsrc Resource Directory section");
        const std::regex volatileLines("(Time/Date|CheckSum)[^\n]*\n");
        return begin == std::string::npos || end == std::string::npos || end < begin
                   ? std::string("(no headers found)")
                   : std::regex_replace(dump.substr(begin, end - begin), volatileLines, "");
    };
    const std::string mineHeaders = headers(a);
    EXPECT_NE(mineHeaders, "(no headers found)");
    EXPECT_TRUE(mineHeaders == headers(b)) << "objdump -p differs between " << mine << " and " << theirs;
}

} // namespace

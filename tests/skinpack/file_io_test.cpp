// Atomic writes: the target appears whole or not at all, and no temporary
// file is left behind on failure.
#include <gtest/gtest.h>

#include <filesystem>

#include "file_io.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace skinpack_test;

namespace {

TEST(WriteFileAtomically, WritesWholeOrNothing)
{
    const std::string folder = freshFolder("io");
    fs::create_directories(folder + "/occupied");
    const auto data = patternBytes(100000, 5);
    struct
    {
        std::string target;
        bool ok;
        std::size_t entriesAfter; // in `folder`
    } cases[] = {
        {folder + "/new.exe", true, 2},        // "occupied" and the new file
        {folder + "/new.exe", true, 2},        // replacing an existing file
        {folder + "/occupied", false, 2},      // a folder in the way: rename fails
        {folder + "/missing/x.exe", false, 2}, // no such folder
    };
    for (const auto &c : cases)
    {
        std::string problem;
        const bool ok = skinpack::writeFileAtomically(c.target, data, problem);
        EXPECT_EQ(ok, c.ok) << c.target << ": " << problem;
        EXPECT_EQ(problem.empty(), c.ok) << c.target << ": " << problem;
        const auto entries = folderEntries(folder);
        EXPECT_EQ(entries.size(), c.entriesAfter) << c.target << ": left " << entries.size() << " entries";
        if (c.ok)
        {
            EXPECT_TRUE(readBytes(c.target) == data) << c.target;
        }
        EXPECT_TRUE(fs::is_directory(folder + "/occupied"));
    }
    fs::remove_all(folder);
}

TEST(ReadFile, RefusesWhatItCannotRead)
{
    const std::string folder = freshFolder("read");
    writeBytes(folder + "/ten", patternBytes(10, 1));
    struct
    {
        std::string path;
        std::uint64_t limit;
        const char *expected; // nullptr: read
    } cases[] = {
        {folder + "/ten", 10, nullptr},
        {folder + "/ten", 9, "limit is 9 bytes"},
        {folder + "/none", 10, "no such file"},
        {folder, 10, "not a regular file"},
    };
    for (const auto &c : cases)
    {
        std::vector<std::uint8_t> out;
        std::string problem;
        const bool ok = skinpack::readFile(c.path, c.limit, out, problem);
        if (c.expected == nullptr)
        {
            EXPECT_TRUE(ok) << c.path << ": " << problem;
            EXPECT_EQ(out.size(), 10u);
        }
        else
        {
            EXPECT_FALSE(ok) << c.path;
            EXPECT_NE(problem.find(c.expected), std::string::npos)
                << c.path << ": \"" << problem << "\", expected \"" << c.expected << "\"";
        }
    }
    fs::remove_all(folder);
}

TEST(InputFile, ASkinThatChangesWhileReadIsNotReadWhole)
{
    // The file changes between opening (when its size is taken) and reading.
    const std::string folder = freshFolder("changing");
    const std::string path = folder + "/skin.ovs";
    struct
    {
        const char *change;
        std::uintmax_t sizeAfter; // 0: unchanged
        bool whole;
    } cases[] = {
        {"unchanged", 0, true},
        {"grown", 300001, false},
        {"shrunk", 1000, false},
    };
    for (const auto &c : cases)
    {
        writeBytes(path, patternBytes(300000, 8));
        skinpack::InputFile in;
        std::string problem;
        ASSERT_TRUE(in.open(path, 1u << 20, problem)) << problem;
        EXPECT_EQ(in.size(), 300000u);
        if (c.sizeAfter != 0)
            fs::resize_file(path, c.sizeAfter);
        std::vector<std::uint8_t> buffer(std::size_t{64} * 1024);
        std::uint64_t total = 0;
        for (std::size_t n; (n = in.read(buffer.data(), buffer.size())) != 0;)
            total += n;
        EXPECT_EQ(in.readWhole(), c.whole) << c.change << ": " << total << " bytes read";
    }
    fs::remove_all(folder);
}

} // namespace

// Reading the skin name out of the installer's path, composing the target path
// and refusing names that would leave the skins folder.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "skin_name.h"

namespace {

struct ParseCase
{
    const char *modulePath;
    const char *skinName; // nullptr: no name
};

// module path                                   skin name
const ParseCase parseCases[] = {
    {"C:\\Downloads\\setup [Winter].exe", "Winter"},
    {"C:\\Downloads\\setup [Winter.ovs].exe", "Winter.ovs"},
    {"C:\\Downloads\\setup.exe", nullptr},
    {"C:\\Downloads\\setup[].exe", nullptr},
    {"C:\\Downloads\\setup]x[.exe", nullptr},
    {"C:\\Downloads\\a[b]c]d.exe", "b]c"},
    {"C:\\Downloads\\a[b[c]d.exe", "c"},
    {"C:\\Skins [Winter]\\setup.exe", "Winter"},
    {"C:\\Skins [Old]\\setup [Winter].exe", "Winter"},
    {"C:\\Skins [Winter]\\setup[x.exe", nullptr},
    {"C:\\Down[loads\\setup].exe", "loads\\setup"},
    {"C:\\Downloads\\setup].exe", "C:\\Downloads\\setup"},
    {"C:\\Downloads\\setup [ Winter .ovs ].exe", " Winter .ovs "},
    {"]", nullptr},
    {"[", nullptr},
    {"x]", "x"},
};

TEST(ParseSkinName, TableOfPaths)
{
    for (const ParseCase &c : parseCases)
    {
        char skinName[MAX_PATH] = {};
        int found = ParseSkinName(c.modulePath, (unsigned long)strlen(c.modulePath), skinName);
        if (c.skinName == nullptr)
        {
            EXPECT_EQ(found, 0) << c.modulePath << ": got name \"" << skinName << "\", expected none";
            EXPECT_STREQ(skinName, "") << c.modulePath;
        }
        else
        {
            EXPECT_NE(found, 0) << c.modulePath << ": got none, expected \"" << c.skinName << "\"";
            EXPECT_STREQ(skinName, c.skinName) << c.modulePath;
        }
    }
}

TEST(ParseSkinName, BytesAfterLengthAreNotRead)
{
    // Only the first n bytes count: the brackets after them change nothing.
    const char path[] = "C:\\Downloads\\setup [Winter].exe[Other]";
    const unsigned long n = (unsigned long)strlen("C:\\Downloads\\setup [Winter].exe");
    char skinName[MAX_PATH] = {};
    ASSERT_NE(ParseSkinName(path, n, skinName), 0);
    EXPECT_STREQ(skinName, "Winter");

    char none[MAX_PATH] = {};
    EXPECT_EQ(ParseSkinName("setup.exe[Winter]", 9, none), 0) << "got \"" << none << "\"";
}

TEST(ParseSkinName, LongestPathGivesNameOf259Bytes)
{
    // A path of MAX_PATH bytes with no terminator, '[' first and ']' last.
    char path[MAX_PATH];
    memset(path, 'a', sizeof(path));
    path[0] = '[';
    path[MAX_PATH - 1] = ']';
    char skinName[MAX_PATH + 1];
    memset(skinName, 0, MAX_PATH);
    skinName[MAX_PATH] = 'G'; // guard byte just past the buffer
    ASSERT_NE(ParseSkinName(path, MAX_PATH, skinName), 0);
    EXPECT_EQ(strlen(skinName), (size_t)MAX_PATH - 2);
    EXPECT_EQ(skinName[MAX_PATH], 'G');
}

TEST(TerminateInstallDir, TableOfStoredStrings)
{
    // bytes read (after them: '#')   size   terminated   result
    const struct
    {
        const char *stored;
        unsigned long size;
        int terminated;
        const char *result;
    } cases[] = {
        {"C:\\Apps", 8, 1, "C:\\Apps"}, // stored with its terminator
        {"C:\\Apps", 7, 1, "C:\\Apps"}, // stored without it
        {"", 1, 1, ""},                 // an empty string
        {"", 0, 1, ""},                 // no bytes at all
        {"C:\\A\0pps", 8, 1, "C:\\A"},  // ends at its first zero byte
    };
    for (const auto &c : cases)
    {
        char dir[MAX_PATH];
        memset(dir, '#', sizeof(dir));
        memcpy(dir, c.stored, c.size);
        EXPECT_EQ(TerminateInstallDir(dir, c.size) != 0, c.terminated != 0) << c.size;
        EXPECT_STREQ(dir, c.result) << "size " << c.size;
    }

    // MAX_PATH bytes without a terminator leave no room for one.
    char full[MAX_PATH + 1];
    memset(full, 'y', sizeof(full));
    EXPECT_EQ(TerminateInstallDir(full, MAX_PATH), 0);
    EXPECT_EQ(full[MAX_PATH], 'y') << "wrote past the buffer";
    full[MAX_PATH - 1] = '\0';
    EXPECT_NE(TerminateInstallDir(full, MAX_PATH), 0) << "a terminator in the last byte fits";
}

struct ComposeCase
{
    const char *installDir;
    const char *skinName;
    const char *targetPath; // "" when it does not fit
};

const std::string dir246(246, 'd');
const std::string dir247(247, 'd');

TEST(ComposeTargetPath, TableOfDirectories)
{
    // install directory       skin name   target path
    const ComposeCase cases[] = {
        {"C:\\Apps\\Host", "Winter", "C:\\Apps\\Host\\ov-skins\\Winter"},
        {"C:\\Apps\\Host\\", "Winter", "C:\\Apps\\Host\\\\ov-skins\\Winter"},
        {"", "Winter", "\\ov-skins\\Winter"},
        {"C:\\Program Files\\Orvanta", "a b.ovs", "C:\\Program Files\\Orvanta\\ov-skins\\a b.ovs"},
        {"C:\\Apps\\Host", "loads\\setup", "C:\\Apps\\Host\\ov-skins\\loads\\setup"},
    };
    for (const ComposeCase &c : cases)
    {
        char target[MAX_PATH] = {};
        EXPECT_NE(ComposeTargetPath(c.installDir, c.skinName, target), 0) << c.installDir;
        EXPECT_STREQ(target, c.targetPath) << "install directory \"" << c.installDir << "\"";
    }
}

TEST(ComposeTargetPath, RefusesWhatDoesNotFit)
{
    // 246 + 10 + 3 = 259 bytes fit with the terminator; one more does not.
    struct
    {
        const std::string &dir;
        const char *name;
        int fits;
    } cases[] = {
        {dir246, "abc", 1},
        {dir247, "abc", 0},
        {dir246, "abcd", 0},
    };
    for (const auto &c : cases)
    {
        char target[MAX_PATH + 1];
        memset(target, 'x', sizeof(target));
        target[MAX_PATH] = 'G';
        int fits = ComposeTargetPath(c.dir.c_str(), c.name, target);
        EXPECT_EQ(fits != 0, c.fits != 0) << c.dir.size() << " + " << strlen(c.name);
        EXPECT_EQ(target[MAX_PATH], 'G') << "wrote past the buffer";
        if (c.fits)
            EXPECT_EQ(strlen(target), (size_t)MAX_PATH - 1);
        else
            EXPECT_STREQ(target, "") << "a refused path must leave the buffer empty";
    }
}

TEST(IsSkinNameUnsafe, TableOfNames)
{
    // skin name                 leaves the skins folder
    const struct
    {
        const char *name;
        int unsafe;
    } cases[] = {
        {"Winter.ovs", 0},
        {"a b.ovs", 0},
        {"loads\\setup", 0},
        {"x..y", 0},
        {"..x", 0},
        {"x..", 0},
        {".hidden", 0},
        {"a\\.\\b", 0},
        {"..", 1},
        {"..\\x", 1},
        {"x\\..\\..\\y", 1},
        {"x\\..", 1},
        {"../x", 1},
        {"x/../y", 1},
        {"...", 1},
        {".. ", 1},
        {"x\\. .\\y", 1},
        {"C:\\x", 1},
        {"C:x", 1},
        {"x.ovs:stream", 1},
        {"\\x", 1},
        {"/x", 1},
        {"\\\\server\\share\\x", 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsSkinNameUnsafe(c.name) != 0, c.unsafe != 0) << "\"" << c.name << "\"";
}

} // namespace

// Random module paths and directories against a plain model of the rules: the
// result never depends on bytes past n, the name is always terminated, and
// nothing is written past the buffers.
#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <string>

#include "skin_name.h"
#include "skin_name_model.h"

namespace {

// Bytes that matter to the rules, and a few that do not.
char RandomByte(std::mt19937 &random)
{
    static const char alphabet[] = {'[', ']', '\\', '.', ' ', ':', 'a', 'Z', '\xe4', '\x5b', '\x81', '\x01'};
    return alphabet[random() % sizeof(alphabet)];
}

const int rounds = 200000;
const char guard = 'G';

TEST(ParseSkinNameProperty, AgreesWithModel)
{
    std::mt19937 random(20261211);
    for (int round = 0; round < rounds; round++)
    {
        const size_t n = 1 + random() % MAX_PATH;
        // The path with MAX_PATH bytes more behind it, brackets among them.
        char path[2 * MAX_PATH];
        for (char &c : path)
            c = RandomByte(random);

        char skinName[MAX_PATH + 8];
        memset(skinName, 0, MAX_PATH);
        memset(skinName + MAX_PATH, guard, 8);

        std::string expected;
        const bool hasName = ModelSkinName(std::string(path, n), expected);
        const int found = ParseSkinName(path, (unsigned long)n, skinName);

        ASSERT_EQ(found != 0, hasName) << "n=" << n << " path=" << std::string(path, n);
        ASSERT_EQ(memchr(skinName, '\0', MAX_PATH) != nullptr, true) << "name not terminated";
        ASSERT_EQ(std::string(skinName + MAX_PATH, 8), std::string(8, guard)) << "wrote past the name buffer";
        if (hasName)
            ASSERT_EQ(std::string(skinName), expected) << "n=" << n;
        else
            ASSERT_STREQ(skinName, "");
    }
}

TEST(ComposeTargetPathProperty, FitsOrRefuses)
{
    std::mt19937 random(1000);
    for (int round = 0; round < rounds; round++)
    {
        const std::string dir(random() % MAX_PATH, 'd');
        const std::string name(1 + random() % (MAX_PATH - 1), 'n');

        char target[MAX_PATH + 8];
        memset(target, 'x', MAX_PATH);
        memset(target + MAX_PATH, guard, 8);

        const std::string expected = dir + "\\ov-skins\\" + name;
        const int fits = ComposeTargetPath(dir.c_str(), name.c_str(), target);

        ASSERT_EQ(std::string(target + MAX_PATH, 8), std::string(8, guard))
            << "wrote past the target buffer: dir " << dir.size() << " name " << name.size();
        ASSERT_EQ(fits != 0, expected.size() < MAX_PATH) << "dir " << dir.size() << " name " << name.size();
        ASSERT_STREQ(target, fits ? expected.c_str() : "");
    }
}

} // namespace

// Replays the fuzz target's committed corpus, so that every build runs it,
// with or without libFuzzer.
#include <gtest/gtest.h>

#include <stddef.h>
#include <stdint.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

TEST(SkinNameFuzzCorpus, EveryInputRunsCleanly)
{
    size_t files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(SKIN_NAME_CORPUS))
    {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().filename().string());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
        files++;
    }
    EXPECT_GE(files, 4u) << "corpus folder " << SKIN_NAME_CORPUS;
}

} // namespace

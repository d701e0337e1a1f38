// Replays the committed fuzz corpus through the fuzz target's function, so
// the corpus runs on every build, with or without libFuzzer.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz_one.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

TEST(FuzzCorpus, EveryInputRunsCleanly)
{
    std::size_t files = 0, accepted = 0;
    for (const auto &entry : fs::directory_iterator(SKINPACK_CORPUS))
    {
        if (!entry.is_regular_file())
            continue;
        const auto bytes = skinpack_test::readBytes(entry.path().string());
        SCOPED_TRACE(entry.path().filename().string());
        accepted += skinpack_fuzz::fuzzOne(bytes.data(), bytes.size()) ? 1 : 0;
        ++files;
    }
    EXPECT_GE(files, 4u) << "corpus folder " << SKINPACK_CORPUS;
    // The corpus holds whole stubs as well as broken ones.
    EXPECT_GE(accepted, 1u);
    EXPECT_LT(accepted, files);
}

} // namespace

// libFuzzer entry point: arbitrary bytes as an installer stub.
#include <cstddef>
#include <cstdint>

#include "fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    skinpack_fuzz::fuzzOne(data, size);
    return 0;
}

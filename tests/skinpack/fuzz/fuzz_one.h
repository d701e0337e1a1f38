// One fuzz input: the bytes as an installer stub, packed with a small skin.
// Aborts when an invariant breaks; returns quietly for rejected stubs.
#ifndef SKINPACK_FUZZ_ONE_H
#define SKINPACK_FUZZ_ONE_H

#include <cstddef>
#include <cstdint>

namespace skinpack_fuzz {

// Returns true when the stub was accepted and the output checked.
bool fuzzOne(const std::uint8_t *data, std::size_t size);

} // namespace skinpack_fuzz

#endif

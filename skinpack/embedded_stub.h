// The installer stub built into the tool (generated at build time from the
// ORVANTA_STUB file; empty when none was given).
#ifndef SKINPACK_EMBEDDED_STUB_H
#define SKINPACK_EMBEDDED_STUB_H

#include <cstddef>

namespace skinpack {
extern const unsigned char kEmbeddedStub[];
extern const std::size_t kEmbeddedStubSize;
} // namespace skinpack

#endif

// Reading inputs and writing outputs atomically.
#ifndef SKINPACK_FILE_IO_H
#define SKINPACK_FILE_IO_H

#include <cstdint>
#include <string>
#include <vector>

namespace skinpack {

// Reads a regular file of at most `maxSize` bytes. On failure returns false
// and sets `problem` (a file larger than `maxSize` is not read at all).
bool readFile(const std::string &path, std::uint64_t maxSize, std::vector<std::uint8_t> &out, std::string &problem);

// Writes `data` to `path` through a temporary file in the same folder, then
// renames it into place: no partial file is ever left at `path`, and the
// temporary file is removed on any failure. The result is executable.
bool writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &data, std::string &problem);

} // namespace skinpack

#endif

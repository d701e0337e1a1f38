// Shared helpers for the skinpack tests.
#ifndef SKINPACK_TEST_SUPPORT_H
#define SKINPACK_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "pe_image.h"

namespace skinpack_test {

std::vector<std::uint8_t> readBytes(const std::string &path);
void writeBytes(const std::string &path, const std::vector<std::uint8_t> &bytes);
std::string dataPath(const std::string &name);
std::vector<std::uint8_t> stubBytes();     // the bare stub (icon, no skin)
std::vector<std::uint8_t> winterSkin();    // Winter.ovs
std::vector<std::uint8_t> windresWinter(); // installer built by windres for Winter.ovs

// Bytes counting up from `seed`, `size` long.
std::vector<std::uint8_t> patternBytes(std::size_t size, unsigned seed);

// The PE checksum computed the textbook way, independently of the tool's.
std::uint32_t referenceChecksum(std::vector<std::uint8_t> file, std::size_t checksumOffset);

// A fresh empty folder under the system temp folder.
std::string freshFolder(const std::string &tag);
std::vector<std::string> folderEntries(const std::string &folder);

std::string toAscii(const std::u16string &s);

// A GoogleTest-safe test name: the index, then the label's letters and digits.
std::string testName(std::size_t index, const std::string &label);

// Finds a resource by type and name; nullptr when absent.
const skinpack::Resource *findResource(const std::vector<skinpack::Resource> &list, const skinpack::ResourceId &type,
                                       const skinpack::ResourceId &name);

} // namespace skinpack_test

#endif

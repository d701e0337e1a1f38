// Stub + skin -> installer: adds the skin as a "SKIN" resource to a prebuilt
// installer stub, with every check on the inputs.
//
// Where the new resource section goes:
//  - When the stub's resource section starts its resource directory and is
//    the last section, or is followed only by the base relocation section
//    (the layout GNU ld gives), the resource section is rebuilt in place and
//    the relocation section is moved up behind it (its contents hold no
//    addresses of its own, so only its header and data directory change).
//  - Otherwise a new section ".rsrc" is appended after the last one and the
//    resource data directory points to it; the old resource bytes stay where
//    they are, unused. This needs room for one more section header.
// Headers fixed: section table, SizeOfImage, SizeOfInitializedData, the
// resource and base relocation data directories, PointerToSymbolTable (when
// it points behind the moved bytes) and the checksum. Bytes behind the last
// section (an overlay) are kept behind it.
//
// A signed stub (non-empty certificate table) is refused: adding a resource
// breaks the signature, and dropping it silently would hide that.
#ifndef SKINPACK_PACK_H
#define SKINPACK_PACK_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace skinpack {

// The installed skin lands at "<install dir>\ov-skins\<name>", which must fit
// in 259 characters. With the default install dir "C:\Program Files\Orvanta"
// (24 characters) and "\ov-skins\" (10) that leaves 225 for the name.
constexpr std::size_t kMaxSkinNameLength = 259 - 10 - 24;

// Largest skin accepted: keeps SizeOfImage well below 2 GiB.
constexpr std::uint64_t kMaxSkinSize = std::uint64_t{1} << 30;

// Largest SizeOfImage written.
constexpr std::uint64_t kMaxImageSize = std::uint64_t{3} << 29; // 1.5 GiB

// Resource language and code page of the SKIN resource.
constexpr std::uint16_t kSkinLanguage = 1033;
constexpr std::uint32_t kSkinCodePage = 0;

class PackError : public std::runtime_error
{
  public:
    enum class Culprit
    {
        Skin,
        Stub
    };
    PackError(Culprit culprit, const std::string &what) : std::runtime_error(what), culprit_(culprit)
    {
    }
    Culprit culprit() const
    {
        return culprit_;
    }

  private:
    Culprit culprit_;
};

// Why `name` (a skin file name, no folder) cannot be a skin name, or "" when
// it can. Only printable ASCII is accepted: the installer reads its own name
// through the ANSI code page, which differs between machines.
std::string skinNameProblem(const std::string &name);

// "setup [<name>].exe"
std::string installerFileName(const std::string &skinName);

// The resource name: the skin name in upper case, as UTF-16.
std::u16string skinResourceName(const std::string &skinName);

struct PackLimits
{
    std::uint64_t maxSkinSize = kMaxSkinSize;
};

// Problem with a skin of `size` bytes, or "".
std::string skinSizeProblem(std::uint64_t size, const PackLimits &limits = {});

// The installer image around the skin's bytes, which it does not hold: the
// file is `head`, then the skin's `skinSize` bytes, then `tail`. The CheckSum
// field, at `checksumOffset` in `head`, is zero: the writer fills it in once
// it has seen every byte (ChecksumSum), so the skin can be streamed from its
// file to the output, never whole in memory.
struct InstallerFrame
{
    std::vector<std::uint8_t> head;
    std::uint64_t skinSize = 0;
    std::vector<std::uint8_t> tail;
    std::size_t checksumOffset = 0;
};

// Lays out the installer for a skin of `skinSize` bytes. Throws PackError
// naming what is wrong (with the culprit: the skin or the stub); never reads
// outside the stub.
InstallerFrame frameInstaller(const std::uint8_t *stub, std::size_t stubSize, const std::string &skinName,
                              std::uint64_t skinSize, const PackLimits &limits = {});

// Builds the whole installer image in memory, checksum included.
std::vector<std::uint8_t> packInstaller(const std::uint8_t *stub, std::size_t stubSize, const std::string &skinName,
                                        const std::uint8_t *skin, std::size_t skinSize, const PackLimits &limits = {});

// Checks a stub on its own (as packInstaller would). Throws PackError.
void checkStub(const std::uint8_t *stub, std::size_t stubSize);

} // namespace skinpack

#endif

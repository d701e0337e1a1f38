// A bounds-checked reader for PE32 images (32-bit Windows executables).
//
// Every field is read through checked offsets: a truncated or malformed image
// raises FormatError and is never read past its end.
#ifndef SKINPACK_PE_IMAGE_H
#define SKINPACK_PE_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace skinpack {

class FormatError : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

// Data directory slots used here.
enum : std::size_t
{
    kDirResource = 2,
    kDirSecurity = 4,
    kDirBaseReloc = 5,
};

// Header field values.
enum : std::uint32_t
{
    kMachineI386 = 0x014c,
    kMagicPe32 = 0x010b,
    kSubsystemWindowsGui = 2,
    kFileExecutableImage = 0x0002,
    kFileDll = 0x2000,
    kScnCntInitializedData = 0x00000040,
    kScnMemRead = 0x40000000,
};

struct DataDirectory
{
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

struct Section
{
    std::string name; // up to 8 bytes, trailing NULs removed
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t sizeOfRawData = 0;
    std::uint32_t pointerToRawData = 0;
    std::uint32_t characteristics = 0;

    // Bytes the loader maps for this section.
    std::uint32_t mappedSize() const
    {
        return virtualSize != 0 ? virtualSize : sizeOfRawData;
    }
};

// A resource name or type: either a 16-bit id or a UTF-16 string.
struct ResourceId
{
    bool isName = false;
    std::uint16_t id = 0;
    std::u16string name;

    static ResourceId fromId(std::uint16_t value);
    static ResourceId fromName(std::u16string value);
};

bool operator==(const ResourceId &a, const ResourceId &b);
bool operator!=(const ResourceId &a, const ResourceId &b);
// Order of entries in a resource directory: names first (ordinal compare of
// UTF-16 units), then ids ascending.
bool operator<(const ResourceId &a, const ResourceId &b);
std::string describe(const ResourceId &id);

// One resource. `data` points into memory owned by the caller (the image or
// the skin buffer) and must outlive the Resource.
struct Resource
{
    ResourceId type;
    ResourceId name;
    std::uint16_t language = 0;
    std::uint32_t codePage = 0;
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
};

// Offsets of header fields that a writer patches.
struct HeaderOffsets
{
    std::size_t fileHeader = 0; // COFF file header ("PE\0\0" + 4)
    std::size_t optionalHeader = 0;
    std::size_t dataDirectories = 0;
    std::size_t sectionTable = 0;
    std::size_t checksum = 0;
    std::size_t sizeOfImage = 0;
    std::size_t sizeOfInitializedData = 0;
    std::size_t numberOfSections = 0;
    std::size_t pointerToSymbolTable = 0;
};

class PeImage
{
  public:
    // Parses and validates the headers of a PE32 image. The bytes are not
    // copied: they must outlive the PeImage. Throws FormatError.
    static PeImage parse(const std::uint8_t *data, std::size_t size);

    const std::uint8_t *data() const
    {
        return data_;
    }
    std::size_t size() const
    {
        return size_;
    }

    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t magic = 0;
    std::uint16_t subsystem = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t fileAlignment = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t checksum = 0;
    std::uint32_t sizeOfInitializedData = 0;
    std::uint32_t pointerToSymbolTable = 0;
    std::uint16_t sizeOfOptionalHeader = 0;
    std::vector<DataDirectory> directories; // NumberOfRvaAndSizes entries
    std::vector<Section> sections;          // in section-table order
    HeaderOffsets offsets;

    DataDirectory directory(std::size_t index) const;

    // Index of the section whose mapped range holds `rva`, or -1.
    int sectionIndexForRva(std::uint32_t rva) const;

    // File offset of `size` bytes at `rva`, all backed by one section's raw
    // data. Throws FormatError when they are not.
    std::size_t fileOffsetOf(std::uint32_t rva, std::uint32_t size) const;

    // End of the last section's raw data in the file (start of any overlay).
    std::size_t endOfSectionData() const;

    // Reads the whole resource tree (type / name / language). Throws
    // FormatError on a malformed tree. Returns an empty list when the image
    // has no resource directory.
    std::vector<Resource> resources() const;

  private:
    const std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0;
};

// The PE image checksum: 16-bit one's-complement-style sum of the file with
// the CheckSum field taken as zero, folded, plus the file length.
std::uint32_t peChecksum(const std::uint8_t *data, std::size_t size, std::size_t checksumOffset);

// The same checksum over a file given piece by piece, in order, so that a
// file is never needed whole in memory. The CheckSum field must be zero in
// the pieces.
class ChecksumSum
{
  public:
    void add(const std::uint8_t *data, std::size_t size);
    std::uint32_t finish() const;

  private:
    std::uint64_t sum_ = 0; // of 16-bit parts: far from overflowing
    std::uint64_t size_ = 0;
};

// Little-endian helpers over a byte buffer (no bounds checks: callers check).
std::uint16_t load16(const std::uint8_t *p);
std::uint32_t load32(const std::uint8_t *p);
void store16(std::uint8_t *p, std::uint16_t value);
void store32(std::uint8_t *p, std::uint32_t value);

} // namespace skinpack

#endif

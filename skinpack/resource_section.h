// Builds a complete resource section (.rsrc) from a list of resources.
//
// Layout, as Microsoft's tools lay it out:
//   1. the directory tables, breadth first: the type table, then one name
//      table per type, then one language table per (type, name); each table
//      is 16 bytes followed by 8-byte entries, named entries first (sorted by
//      an ordinal compare of their UTF-16 units), then id entries ascending;
//   2. the data entries, 16 bytes each, in tree order;
//   3. the name strings: a 16-bit length and the UTF-16 units, no terminator;
//   4. the data blobs in tree order, each starting on an 8-byte boundary,
//      padded with zeros.
// A data entry holds the RVA of its blob, its exact size and its code page.
// Timestamps and versions in the tables are zero, so the output depends on
// the resources and the section's RVA only.
#ifndef SKINPACK_RESOURCE_SECTION_H
#define SKINPACK_RESOURCE_SECTION_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "pe_image.h"

namespace skinpack {

class ResourceSection
{
  public:
    // Sorts the resources into tree order. Throws std::invalid_argument when
    // two share type, name and language, or when the section would not fit
    // in 32 bits.
    explicit ResourceSection(std::vector<Resource> resources);

    // Bytes of the section (a multiple of 8).
    std::size_t size() const
    {
        return size_;
    }

    // Writes the section, as it will sit at `sectionRva`, into `out`, which
    // holds size() - leftOutSize() bytes. The data of a resource whose data
    // pointer is null is left out: everything behind it moves up by its
    // size, and the caller puts those bytes in place by other means.
    void write(std::uint32_t sectionRva, std::uint8_t *out) const;

    // Bytes of the resources whose data is left out.
    std::size_t leftOutSize() const;

    // Where the data of a resource begins in the section.
    std::size_t blobOffset(const ResourceId &type, const ResourceId &name, std::uint16_t language) const;

    const std::vector<Resource> &resources() const
    {
        return resources_;
    }

  private:
    struct NameNode
    {
        ResourceId id;
        std::vector<std::size_t> languages; // indices into resources_
        std::size_t tableOffset = 0;
        std::size_t stringOffset = 0;
    };
    struct TypeNode
    {
        ResourceId id;
        std::vector<NameNode> names;
        std::size_t tableOffset = 0;
        std::size_t stringOffset = 0;
    };

    std::vector<Resource> resources_;
    std::vector<TypeNode> types_;
    std::size_t dataEntriesOffset_ = 0;
    std::vector<std::size_t> blobOffsets_; // per resource, in tree order
    std::size_t size_ = 0;
};

// Convenience: the section as a byte vector.
std::vector<std::uint8_t> buildResourceSection(const std::vector<Resource> &resources, std::uint32_t sectionRva);

} // namespace skinpack

#endif

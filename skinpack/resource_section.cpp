#include "resource_section.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace skinpack {

namespace {

std::size_t align8(std::size_t v)
{
    return (v + 7) & ~std::size_t{7};
}

bool treeOrder(const Resource &a, const Resource &b)
{
    if (a.type != b.type)
        return a.type < b.type;
    if (a.name != b.name)
        return a.name < b.name;
    return a.language < b.language;
}

std::uint32_t u32(std::size_t v)
{
    return static_cast<std::uint32_t>(v);
}

} // namespace

ResourceSection::ResourceSection(std::vector<Resource> resources) : resources_(std::move(resources))
{
    std::stable_sort(resources_.begin(), resources_.end(), treeOrder);
    for (std::size_t i = 0; i < resources_.size(); ++i)
    {
        const Resource &r = resources_[i];
        if (r.type.isName && r.type.name.size() > 0xffff)
            throw std::invalid_argument("resource type name too long");
        if (r.name.isName && r.name.name.size() > 0xffff)
            throw std::invalid_argument("resource name too long");
        if (i > 0 && !treeOrder(resources_[i - 1], r))
            throw std::invalid_argument("two resources with type " + describe(r.type) + ", name " + describe(r.name) +
                                        " and language " + std::to_string(r.language));
        if (types_.empty() || types_.back().id != r.type)
        {
            types_.push_back(TypeNode{r.type, {}, 0, 0});
        }
        TypeNode &t = types_.back();
        if (t.names.empty() || t.names.back().id != r.name)
            t.names.push_back(NameNode{r.name, {}, 0, 0});
        t.names.back().languages.push_back(i);
    }

    // 1. Directory tables, breadth first.
    std::size_t offset = 16 + 8 * types_.size();
    for (TypeNode &t : types_)
    {
        t.tableOffset = offset;
        offset += 16 + 8 * t.names.size();
    }
    for (TypeNode &t : types_)
        for (NameNode &n : t.names)
        {
            n.tableOffset = offset;
            offset += 16 + 8 * n.languages.size();
        }
    // 2. Data entries.
    dataEntriesOffset_ = offset;
    offset += 16 * resources_.size();
    // 3. Name strings.
    for (TypeNode &t : types_)
        if (t.id.isName)
        {
            t.stringOffset = offset;
            offset += 2 + 2 * t.id.name.size();
        }
    for (TypeNode &t : types_)
        for (NameNode &n : t.names)
            if (n.id.isName)
            {
                n.stringOffset = offset;
                offset += 2 + 2 * n.id.name.size();
            }
    // 4. Data blobs.
    const std::size_t limit = std::numeric_limits<std::uint32_t>::max();
    for (const Resource &r : resources_)
    {
        offset = align8(offset);
        if (r.size > limit || offset > limit - r.size)
            throw std::invalid_argument("resources do not fit in a 32-bit section");
        blobOffsets_.push_back(offset);
        offset += r.size;
    }
    size_ = align8(offset);
    if (size_ > limit)
        throw std::invalid_argument("resources do not fit in a 32-bit section");
}

void ResourceSection::write(std::uint32_t sectionRva, std::uint8_t *out) const
{
    if (std::uint64_t{sectionRva} + size_ > std::numeric_limits<std::uint32_t>::max())
        throw std::invalid_argument("resource section does not fit below 4 GiB");
    // The tables, entries and strings all lie before the first blob; blobs
    // behind one that is left out move up by its size.
    const std::size_t tablesEnd = resources_.empty() ? size_ : blobOffsets_.front();
    std::memset(out, 0, tablesEnd);
    std::size_t shift = 0;
    for (std::size_t i = 0; i < resources_.size(); ++i)
    {
        const Resource &r = resources_[i];
        const std::size_t end = i + 1 < resources_.size() ? blobOffsets_[i + 1] : size_;
        const std::size_t at = blobOffsets_[i] - shift;
        if (r.data == nullptr)
            shift += r.size;
        else if (r.size != 0)
            std::memcpy(out + at, r.data, r.size);
        // The padding up to the next blob.
        std::memset(out + blobOffsets_[i] + r.size - shift, 0, end - blobOffsets_[i] - r.size);
    }

    auto table = [out](std::size_t at, std::size_t named, std::size_t ids) {
        // Characteristics, TimeDateStamp, MajorVersion, MinorVersion: zero.
        store16(out + at + 12, static_cast<std::uint16_t>(named));
        store16(out + at + 14, static_cast<std::uint16_t>(ids));
    };
    auto entry = [out](std::size_t at, const ResourceId &id, std::size_t stringOffset, std::uint32_t target) {
        store32(out + at, id.isName ? (0x80000000u | u32(stringOffset)) : id.id);
        store32(out + at + 4, target);
    };
    auto countNamed = [](const auto &nodes) {
        return static_cast<std::size_t>(
            std::count_if(nodes.begin(), nodes.end(), [](const auto &n) { return n.id.isName; }));
    };
    auto string = [out](std::size_t at, const std::u16string &s) {
        store16(out + at, static_cast<std::uint16_t>(s.size()));
        for (std::size_t i = 0; i < s.size(); ++i)
            store16(out + at + 2 + 2 * i, static_cast<std::uint16_t>(s[i]));
    };

    const std::size_t namedTypes = countNamed(types_);
    table(0, namedTypes, types_.size() - namedTypes);
    for (std::size_t i = 0; i < types_.size(); ++i)
    {
        const TypeNode &t = types_[i];
        entry(16 + 8 * i, t.id, t.stringOffset, 0x80000000u | u32(t.tableOffset));
        if (t.id.isName)
            string(t.stringOffset, t.id.name);
        const std::size_t namedNames = countNamed(t.names);
        table(t.tableOffset, namedNames, t.names.size() - namedNames);
        for (std::size_t j = 0; j < t.names.size(); ++j)
        {
            const NameNode &n = t.names[j];
            entry(t.tableOffset + 16 + 8 * j, n.id, n.stringOffset, 0x80000000u | u32(n.tableOffset));
            if (n.id.isName)
                string(n.stringOffset, n.id.name);
            table(n.tableOffset, 0, n.languages.size());
            for (std::size_t k = 0; k < n.languages.size(); ++k)
            {
                const std::size_t index = n.languages[k];
                const Resource &r = resources_[index];
                const std::size_t dataEntry = dataEntriesOffset_ + 16 * index;
                entry(n.tableOffset + 16 + 8 * k, ResourceId::fromId(r.language), 0, u32(dataEntry));
                store32(out + dataEntry, sectionRva + u32(blobOffsets_[index]));
                store32(out + dataEntry + 4, u32(r.size));
                store32(out + dataEntry + 8, r.codePage);
            }
        }
    }
}

std::size_t ResourceSection::leftOutSize() const
{
    std::size_t total = 0;
    for (const Resource &r : resources_)
        if (r.data == nullptr)
            total += r.size;
    return total;
}

std::size_t ResourceSection::blobOffset(const ResourceId &type, const ResourceId &name, std::uint16_t language) const
{
    for (std::size_t i = 0; i < resources_.size(); ++i)
    {
        const Resource &r = resources_[i];
        if (r.type == type && r.name == name && r.language == language)
            return blobOffsets_[i];
    }
    throw std::invalid_argument("no resource " + describe(type) + "/" + describe(name));
}

std::vector<std::uint8_t> buildResourceSection(const std::vector<Resource> &resources, std::uint32_t sectionRva)
{
    ResourceSection section(resources);
    std::vector<std::uint8_t> out(section.size() - section.leftOutSize());
    section.write(sectionRva, out.data());
    return out;
}

} // namespace skinpack

#include "pe_image.h"

#include <algorithm>
#include <sstream>

namespace skinpack {

namespace {

// Upper bounds that keep a hostile image from making the reader do
// unbounded work.
constexpr std::size_t kMaxSections = 96;
constexpr std::size_t kMaxResources = 4096;
constexpr std::size_t kMaxEntriesVisited = 65536;

std::string hex(std::uint32_t value)
{
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}

bool isPowerOfTwo(std::uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

// Checked view over the image bytes.
class Reader
{
  public:
    Reader(const std::uint8_t *data, std::size_t size) : data_(data), size_(size)
    {
    }

    void need(std::size_t offset, std::size_t count, const char *what) const
    {
        if (offset > size_ || count > size_ - offset)
            throw FormatError(std::string("truncated: ") + what + " lies past the end of the file");
    }
    std::uint16_t u16(std::size_t offset, const char *what) const
    {
        need(offset, 2, what);
        return load16(data_ + offset);
    }
    std::uint32_t u32(std::size_t offset, const char *what) const
    {
        need(offset, 4, what);
        return load32(data_ + offset);
    }

  private:
    const std::uint8_t *data_;
    std::size_t size_;
};

} // namespace

std::uint16_t load16(const std::uint8_t *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t load32(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void store16(std::uint8_t *p, std::uint16_t value)
{
    p[0] = static_cast<std::uint8_t>(value & 0xff);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void store32(std::uint8_t *p, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xff);
}

ResourceId ResourceId::fromId(std::uint16_t value)
{
    ResourceId r;
    r.id = value;
    return r;
}

ResourceId ResourceId::fromName(std::u16string value)
{
    ResourceId r;
    r.isName = true;
    r.name = std::move(value);
    return r;
}

bool operator==(const ResourceId &a, const ResourceId &b)
{
    return a.isName == b.isName && (a.isName ? a.name == b.name : a.id == b.id);
}

bool operator!=(const ResourceId &a, const ResourceId &b)
{
    return !(a == b);
}

bool operator<(const ResourceId &a, const ResourceId &b)
{
    if (a.isName != b.isName)
        return a.isName; // names before ids
    if (a.isName)
        return a.name < b.name; // char16_t compares as unsigned 16-bit units
    return a.id < b.id;
}

std::string describe(const ResourceId &id)
{
    if (!id.isName)
        return std::to_string(id.id);
    std::string out = "\"";
    for (char16_t c : id.name)
        out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    return out + "\"";
}

PeImage PeImage::parse(const std::uint8_t *data, std::size_t size)
{
    Reader r(data, size);
    PeImage image;
    image.data_ = data;
    image.size_ = size;

    if (size < 2 || data[0] != 'M' || data[1] != 'Z')
        throw FormatError("not an executable: no MZ header");
    const std::uint32_t peOffset = r.u32(0x3c, "the MZ header");
    if (peOffset < 0x40 || peOffset % 4 != 0)
        throw FormatError("malformed MZ header: PE header offset " + hex(peOffset));
    r.need(peOffset, 4, "the PE signature");
    if (load32(data + peOffset) != 0x00004550)
        throw FormatError("not a PE image: no PE signature at " + hex(peOffset));

    const std::size_t fh = std::size_t{peOffset} + 4;
    r.need(fh, 20, "the COFF file header");
    image.offsets.fileHeader = fh;
    image.machine = load16(data + fh);
    const std::uint16_t numberOfSections = load16(data + fh + 2);
    image.offsets.pointerToSymbolTable = fh + 8;
    image.pointerToSymbolTable = load32(data + fh + 8);
    image.offsets.numberOfSections = fh + 2;
    image.sizeOfOptionalHeader = load16(data + fh + 16);
    image.characteristics = load16(data + fh + 18);

    if (image.machine != kMachineI386)
        throw FormatError("not an i386 image: machine " + hex(image.machine));
    if ((image.characteristics & kFileExecutableImage) == 0)
        throw FormatError("not an executable image (characteristics " + hex(image.characteristics) + ")");
    if ((image.characteristics & kFileDll) != 0)
        throw FormatError("a DLL, not a program");

    const std::size_t oh = fh + 20;
    image.offsets.optionalHeader = oh;
    if (image.sizeOfOptionalHeader < 96)
        throw FormatError("optional header too small: " + std::to_string(image.sizeOfOptionalHeader) + " bytes");
    r.need(oh, image.sizeOfOptionalHeader, "the optional header");
    image.magic = load16(data + oh);
    if (image.magic != kMagicPe32)
        throw FormatError("not a PE32 image: optional header magic " + hex(image.magic));
    image.offsets.sizeOfInitializedData = oh + 8;
    image.sizeOfInitializedData = load32(data + oh + 8);
    image.sectionAlignment = load32(data + oh + 32);
    image.fileAlignment = load32(data + oh + 36);
    image.offsets.sizeOfImage = oh + 56;
    image.sizeOfImage = load32(data + oh + 56);
    image.sizeOfHeaders = load32(data + oh + 60);
    image.offsets.checksum = oh + 64;
    image.checksum = load32(data + oh + 64);
    image.subsystem = load16(data + oh + 68);
    const std::uint32_t numberOfRvaAndSizes = load32(data + oh + 92);

    if (image.subsystem != kSubsystemWindowsGui)
        throw FormatError("not a Windows GUI program: subsystem " + std::to_string(image.subsystem));
    if (!isPowerOfTwo(image.fileAlignment) || image.fileAlignment < 512 || image.fileAlignment > 65536)
        throw FormatError("bad file alignment " + hex(image.fileAlignment));
    if (!isPowerOfTwo(image.sectionAlignment) || image.sectionAlignment < image.fileAlignment)
        throw FormatError("bad section alignment " + hex(image.sectionAlignment));
    if (numberOfRvaAndSizes > 16 || std::size_t{96} + std::size_t{8} * numberOfRvaAndSizes > image.sizeOfOptionalHeader)
        throw FormatError("bad number of data directories: " + std::to_string(numberOfRvaAndSizes));
    if (numberOfRvaAndSizes <= kDirResource)
        throw FormatError("no room for a resource data directory");

    image.offsets.dataDirectories = oh + 96;
    for (std::uint32_t i = 0; i < numberOfRvaAndSizes; ++i)
    {
        DataDirectory d;
        d.rva = load32(data + oh + 96 + std::size_t{8} * i);
        d.size = load32(data + oh + 96 + std::size_t{8} * i + 4);
        image.directories.push_back(d);
    }

    if (numberOfSections == 0 || numberOfSections > kMaxSections)
        throw FormatError("bad number of sections: " + std::to_string(numberOfSections));
    const std::size_t st = oh + image.sizeOfOptionalHeader;
    image.offsets.sectionTable = st;
    r.need(st, std::size_t{40} * numberOfSections, "the section table");
    if (st + std::size_t{40} * numberOfSections > image.sizeOfHeaders)
        throw FormatError("section table runs past SizeOfHeaders");
    if (image.sizeOfHeaders > size)
        throw FormatError("truncated: SizeOfHeaders " + hex(image.sizeOfHeaders) + " is past the end of the file");

    std::uint64_t expectedVa =
        (std::uint64_t{image.sizeOfHeaders} + image.sectionAlignment - 1) & ~std::uint64_t{image.sectionAlignment - 1};
    for (std::size_t i = 0; i < numberOfSections; ++i)
    {
        const std::uint8_t *s = data + st + 40 * i;
        Section sec;
        std::size_t nameLength = 0;
        while (nameLength < 8 && s[nameLength] != 0)
            ++nameLength;
        sec.name.assign(reinterpret_cast<const char *>(s), nameLength);
        sec.virtualSize = load32(s + 8);
        sec.virtualAddress = load32(s + 12);
        sec.sizeOfRawData = load32(s + 16);
        sec.pointerToRawData = load32(s + 20);
        sec.characteristics = load32(s + 36);
        const std::string label = "section " + std::to_string(i + 1);
        if (sec.virtualAddress % image.sectionAlignment != 0 || sec.virtualAddress != expectedVa)
            throw FormatError(label + " is at RVA " + hex(sec.virtualAddress) + ", expected " +
                              hex(static_cast<std::uint32_t>(expectedVa)));
        if (sec.mappedSize() == 0)
            throw FormatError(label + " is empty");
        if (sec.sizeOfRawData != 0)
        {
            if (sec.pointerToRawData % image.fileAlignment != 0 || sec.sizeOfRawData % image.fileAlignment != 0)
                throw FormatError(label + " is not aligned in the file");
            if (sec.pointerToRawData < image.sizeOfHeaders)
                throw FormatError(label + " overlaps the headers");
            if (std::uint64_t{sec.pointerToRawData} + sec.sizeOfRawData > size)
                throw FormatError("truncated: " + label + " raw data (" + hex(sec.pointerToRawData) + " + " +
                                  hex(sec.sizeOfRawData) + ") is past the end of the file (" + std::to_string(size) +
                                  " bytes)");
        }
        expectedVa +=
            (std::uint64_t{sec.mappedSize()} + image.sectionAlignment - 1) & ~std::uint64_t{image.sectionAlignment - 1};
        if (expectedVa > 0x80000000u)
            throw FormatError("image too large");
        image.sections.push_back(sec);
    }
    // Raw data ranges must not overlap.
    std::vector<const Section *> byFile;
    for (const Section &sec : image.sections)
        if (sec.sizeOfRawData != 0)
            byFile.push_back(&sec);
    std::sort(byFile.begin(), byFile.end(),
              [](const Section *a, const Section *b) { return a->pointerToRawData < b->pointerToRawData; });
    for (std::size_t i = 1; i < byFile.size(); ++i)
        if (std::uint64_t{byFile[i - 1]->pointerToRawData} + byFile[i - 1]->sizeOfRawData > byFile[i]->pointerToRawData)
            throw FormatError("sections overlap in the file");
    if (image.sizeOfImage != expectedVa)
        throw FormatError("SizeOfImage is " + hex(image.sizeOfImage) + ", expected " +
                          hex(static_cast<std::uint32_t>(expectedVa)));
    return image;
}

DataDirectory PeImage::directory(std::size_t index) const
{
    return index < directories.size() ? directories[index] : DataDirectory{};
}

int PeImage::sectionIndexForRva(std::uint32_t rva) const
{
    for (std::size_t i = 0; i < sections.size(); ++i)
    {
        const Section &s = sections[i];
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.mappedSize())
            return static_cast<int>(i);
    }
    return -1;
}

std::size_t PeImage::fileOffsetOf(std::uint32_t rva, std::uint32_t size) const
{
    int index = sectionIndexForRva(rva);
    // A range of no bytes may also start right at the end of a section: an
    // empty resource laid out last points there.
    for (std::size_t i = 0; index < 0 && size == 0 && i < sections.size(); ++i)
        if (std::uint64_t{sections[i].virtualAddress} + sections[i].mappedSize() == rva)
            index = static_cast<int>(i);
    if (index < 0)
        throw FormatError("RVA " + hex(rva) + " lies in no section");
    const Section &s = sections[static_cast<std::size_t>(index)];
    const std::uint64_t within = rva - s.virtualAddress;
    const std::uint64_t backed = std::min(s.sizeOfRawData, s.mappedSize());
    if (within + size > backed)
        throw FormatError("data at RVA " + hex(rva) + " (" + std::to_string(size) + " bytes) runs past its section");
    return static_cast<std::size_t>(s.pointerToRawData + within);
}

std::size_t PeImage::endOfSectionData() const
{
    std::size_t end = sizeOfHeaders;
    for (const Section &s : sections)
        if (s.sizeOfRawData != 0)
            end = std::max<std::size_t>(end, std::size_t{s.pointerToRawData} + s.sizeOfRawData);
    return end;
}

namespace {

struct TreeWalk
{
    const PeImage &image;
    const std::uint8_t *base; // start of the resource directory in the file
    std::size_t limit;        // bytes of the resource directory available
    std::size_t visited = 0;
    std::vector<Resource> out;

    void need(std::size_t offset, std::size_t count, const char *what) const
    {
        if (offset > limit || count > limit - offset)
            throw FormatError(std::string("malformed resources: ") + what + " at offset " +
                              hex(static_cast<std::uint32_t>(offset)) + " lies outside the resource directory");
    }

    ResourceId entryId(std::uint32_t nameField)
    {
        if ((nameField & 0x80000000u) == 0)
        {
            if (nameField > 0xffff)
                throw FormatError("malformed resources: id " + hex(nameField) + " is not 16 bits");
            return ResourceId::fromId(static_cast<std::uint16_t>(nameField));
        }
        const std::size_t offset = nameField & 0x7fffffffu;
        need(offset, 2, "a name string");
        const std::size_t length = load16(base + offset);
        need(offset + 2, 2 * length, "a name string");
        std::u16string name;
        name.reserve(length);
        for (std::size_t i = 0; i < length; ++i)
            name.push_back(static_cast<char16_t>(load16(base + offset + 2 + 2 * i)));
        return ResourceId::fromName(std::move(name));
    }

    // level 0: types, 1: names, 2: languages.
    void directory(std::size_t offset, int level, const Resource &partial)
    {
        need(offset, 16, "a directory table");
        const std::size_t named = load16(base + offset + 12);
        const std::size_t ids = load16(base + offset + 14);
        need(offset + 16, 8 * (named + ids), "a directory table's entries");
        bool first = true;
        ResourceId previous;
        for (std::size_t i = 0; i < named + ids; ++i)
        {
            if (++visited > kMaxEntriesVisited)
                throw FormatError("malformed resources: too many directory entries");
            const std::uint8_t *e = base + offset + 16 + 8 * i;
            const std::uint32_t nameField = load32(e);
            const std::uint32_t target = load32(e + 4);
            const bool isName = (nameField & 0x80000000u) != 0;
            if (isName != (i < named))
                throw FormatError("malformed resources: named and id entries are mixed up");
            ResourceId id = entryId(nameField);
            if (!first && !(previous < id))
                throw FormatError("malformed resources: entries are not sorted or repeat " + describe(id));
            first = false;
            previous = id;

            Resource r = partial;
            if (level == 0)
                r.type = id;
            else if (level == 1)
                r.name = id;
            else
            {
                if (id.isName)
                    throw FormatError("malformed resources: a language given by name");
                r.language = id.id;
            }
            const bool isDirectory = (target & 0x80000000u) != 0;
            const std::size_t targetOffset = target & 0x7fffffffu;
            if (level < 2)
            {
                if (!isDirectory)
                    throw FormatError("malformed resources: data where a directory was expected");
                directory(targetOffset, level + 1, r);
            }
            else
            {
                if (isDirectory)
                    throw FormatError("malformed resources: tree deeper than three levels");
                need(targetOffset, 16, "a data entry");
                const std::uint32_t dataRva = load32(base + targetOffset);
                const std::uint32_t dataSize = load32(base + targetOffset + 4);
                r.codePage = load32(base + targetOffset + 8);
                const std::size_t fileOffset = image.fileOffsetOf(dataRva, dataSize);
                r.data = image.data() + fileOffset;
                r.size = dataSize;
                if (out.size() >= kMaxResources)
                    throw FormatError("malformed resources: too many resources");
                out.push_back(r);
            }
        }
    }
};

} // namespace

std::vector<Resource> PeImage::resources() const
{
    const DataDirectory dir = directory(kDirResource);
    if (dir.rva == 0 && dir.size == 0)
        return {};
    if (dir.size < 16)
        throw FormatError("malformed resources: resource directory of " + std::to_string(dir.size) + " bytes");
    const std::size_t offset = fileOffsetOf(dir.rva, dir.size);
    TreeWalk walk{*this, data_ + offset, dir.size, 0, {}};
    walk.directory(0, 0, Resource{});
    return std::move(walk.out);
}

namespace {

// Sum of the little-endian 16-bit words of `size` bytes (a last odd byte
// counts as a word with a zero high byte), taken modulo 0xffff: a 32-bit
// word w1 * 0x10000 + w0 is congruent to w0 + w1, so whole 32-bit words are
// added and folded at the end. Returns a value of 16 bits at most.
std::uint32_t sumOfWords(const std::uint8_t *p, std::size_t size)
{
    std::uint64_t sum = 0;
    std::size_t i = 0;
    // Up to 2^32 words of 32 bits fit in 64 bits: fold every 1 GiB.
    const std::size_t foldEvery = std::size_t{1} << 30;
    while (i + 4 <= size)
    {
        const std::size_t end = i + (std::min(size - i, foldEvery) & ~std::size_t{3});
        for (; i < end; i += 4)
            sum += load32(p + i);
        sum = (sum & 0xffffffffu) + (sum >> 32);
    }
    if (i + 2 <= size)
    {
        sum += load16(p + i);
        i += 2;
    }
    if (i < size)
        sum += p[i];
    while (sum > 0xffff)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint32_t>(sum);
}

} // namespace

void ChecksumSum::add(const std::uint8_t *data, std::size_t size)
{
    std::uint32_t part = sumOfWords(data, size);
    // Bytes that start at an odd offset of the file sit in the other half of
    // each word: their sum, byte-swapped, is what they add.
    if (size_ % 2 != 0)
        part = ((part & 0xff) << 8) | (part >> 8);
    sum_ += part;
    size_ += size;
}

std::uint32_t ChecksumSum::finish() const
{
    std::uint64_t sum = sum_;
    while (sum > 0xffff)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + size_);
}

std::uint32_t peChecksum(const std::uint8_t *data, std::size_t size, std::size_t checksumOffset)
{
    // The CheckSum field (at an even offset) counts as zero.
    static const std::uint8_t zero[4] = {};
    ChecksumSum sum;
    if (checksumOffset >= size)
    {
        sum.add(data, size);
    }
    else
    {
        const std::size_t field = std::min<std::size_t>(4, size - checksumOffset);
        sum.add(data, checksumOffset);
        sum.add(zero, field);
        sum.add(data + checksumOffset + field, size - checksumOffset - field);
    }
    return sum.finish();
}

} // namespace skinpack

#include "pack.h"

#include <algorithm>
#include <cstring>

#include "pe_image.h"
#include "resource_section.h"

namespace skinpack {

namespace {

using Culprit = PackError::Culprit;

constexpr std::uint32_t kPageSize = 4096;

std::uint64_t alignUp(std::uint64_t v, std::uint32_t alignment)
{
    return (v + alignment - 1) & ~std::uint64_t{alignment - 1};
}

char upperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsIgnoringCase(const std::u16string &a, const char *b)
{
    const std::size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
    {
        char16_t c = a[i];
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
        if (c != static_cast<char16_t>(upperAscii(b[i])))
            return false;
    }
    return true;
}

struct Stub
{
    PeImage image;
    std::vector<Resource> resources;
};

Stub analyzeStub(const std::uint8_t *data, std::size_t size)
{
    try
    {
        Stub stub{PeImage::parse(data, size), {}};
        const DataDirectory security = stub.image.directory(kDirSecurity);
        if (security.rva != 0 || security.size != 0)
            throw PackError(Culprit::Stub,
                            "the stub is signed (it has a certificate table); adding a resource would break "
                            "the signature: use an unsigned stub and sign the installers afterwards");
        stub.resources = stub.image.resources();
        for (const Resource &r : stub.resources)
            if (r.type.isName && equalsIgnoringCase(r.type.name, "SKIN"))
                throw PackError(Culprit::Stub, "the stub already carries a SKIN resource (" + describe(r.name) +
                                                   "): use a stub without a skin");
        return stub;
    }
    catch (const FormatError &e)
    {
        throw PackError(Culprit::Stub, std::string("not a usable installer stub: ") + e.what());
    }
}

bool isReservedDeviceName(const std::string &name)
{
    // Windows ignores everything from the first dot, and spaces before it.
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char &c : stem)
        c = upperAscii(c);
    static const char *const fixed[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char *f : fixed)
        if (stem == f)
            return true;
    if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
        stem[3] <= '9')
        return true;
    return false;
}

// Base relocation blocks whose page lies at or behind `rva`: those would
// patch bytes that move.
bool relocationsReachPast(const PeImage &image, std::uint32_t rva)
{
    const DataDirectory dir = image.directory(kDirBaseReloc);
    if (dir.rva == 0 || dir.size == 0)
        return false;
    const std::size_t offset = image.fileOffsetOf(dir.rva, dir.size);
    const std::uint8_t *p = image.data() + offset;
    std::size_t at = 0;
    while (at + 8 <= dir.size)
    {
        const std::uint32_t page = load32(p + at);
        const std::uint32_t blockSize = load32(p + at + 4);
        if (blockSize < 8 || blockSize > dir.size - at)
            throw FormatError("malformed base relocations");
        if (page >= rva)
            for (std::size_t e = at + 8; e + 2 <= at + blockSize; e += 2)
                if ((load16(p + e) >> 12) != 0) // type 0 is padding
                    return true;
        at += blockSize;
    }
    return false;
}

// True when the section's mapped range holds the whole, non-empty directory.
bool holdsRange(const Section &s, const DataDirectory &dir)
{
    if (dir.rva == 0 || dir.rva < s.virtualAddress)
        return false;
    const std::uint64_t end = std::uint64_t{dir.rva} + dir.size;
    return end <= std::uint64_t{s.virtualAddress} + s.mappedSize();
}

struct Plan
{
    bool inPlace = false;
    std::size_t rsrcIndex = 0;
};

Plan choosePlan(const PeImage &image)
{
    Plan plan;
    const DataDirectory res = image.directory(kDirResource);
    if (res.rva == 0)
        return plan;
    const int found = image.sectionIndexForRva(res.rva);
    if (found < 0)
        return plan;
    const std::size_t index = static_cast<std::size_t>(found);
    const Section &rsrc = image.sections[index];
    if (rsrc.virtualAddress != res.rva || rsrc.sizeOfRawData == 0)
        return plan;
    // Every section behind it must be the base relocation section.
    const DataDirectory reloc = image.directory(kDirBaseReloc);
    for (std::size_t i = index + 1; i < image.sections.size(); ++i)
    {
        const Section &s = image.sections[i];
        if (!holdsRange(s, reloc))
            return plan;
        if (s.sizeOfRawData != 0 && s.pointerToRawData < rsrc.pointerToRawData + rsrc.sizeOfRawData)
            return plan;
    }
    // No other section's raw data behind it, and no other data directory
    // pointing into or behind it.
    for (std::size_t i = 0; i < index; ++i)
    {
        const Section &s = image.sections[i];
        if (s.sizeOfRawData != 0 && s.pointerToRawData > rsrc.pointerToRawData)
            return plan;
    }
    for (std::size_t d = 0; d < image.directories.size(); ++d)
    {
        if (d == kDirResource || d == kDirSecurity || d == kDirBaseReloc)
            continue;
        if (image.directories[d].rva >= rsrc.virtualAddress)
            return plan;
    }
    if (relocationsReachPast(image, rsrc.virtualAddress))
        return plan;
    plan.inPlace = true;
    plan.rsrcIndex = index;
    return plan;
}

void writeSectionHeader(std::uint8_t *out, const PeImage &image, std::size_t index, const Section &s)
{
    std::uint8_t *h = out + image.offsets.sectionTable + 40 * index;
    store32(h + 8, s.virtualSize);
    store32(h + 12, s.virtualAddress);
    store32(h + 16, s.sizeOfRawData);
    store32(h + 20, s.pointerToRawData);
}

std::uint32_t checked32(std::int64_t v, const char *what)
{
    if (v < 0 || v > 0xffffffffLL)
        throw FormatError(std::string(what) + " out of range");
    return static_cast<std::uint32_t>(v);
}

} // namespace

std::string skinNameProblem(const std::string &name)
{
    if (name.empty())
        return "the skin file name is empty";
    if (name.size() > kMaxSkinNameLength)
        return "the skin file name is " + std::to_string(name.size()) + " characters long; at most " +
               std::to_string(kMaxSkinNameLength) +
               " fit in the installed path \"C:\\Program Files\\Orvanta\\ov-skins\\<name>\" (259 characters)";
    for (char c : name)
    {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            return "the skin file name holds a control character (code " + std::to_string(u) + ")";
        if (u >= 0x80)
            return "the skin file name holds a non-ASCII byte; only ASCII names are supported";
        if (std::strchr("\\/:*?\"<>|", c) != nullptr)
            return std::string("the skin file name holds '") + c + "', which Windows does not allow in a file name";
        if (c == '[')
            return "the skin file name holds '[', which the installer cannot tell from the '[' before the name";
    }
    if (name.back() == '.' || name.back() == ' ')
        return std::string("the skin file name ends in a ") + (name.back() == '.' ? "dot" : "space") +
               ", which Windows drops";
    if (isReservedDeviceName(name))
        return "the skin file name is a reserved Windows device name";
    if (name[0] == '#')
        return "the skin file name starts with '#', which Windows reads as a numeric resource id";
    return {};
}

std::string installerFileName(const std::string &skinName)
{
    return "setup [" + skinName + "].exe";
}

std::u16string skinResourceName(const std::string &skinName)
{
    std::u16string out;
    for (char c : skinName)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(upperAscii(c))));
    return out;
}

std::string skinSizeProblem(std::uint64_t size, const PackLimits &limits)
{
    if (size == 0)
        return "the skin file is empty";
    if (size > limits.maxSkinSize)
        return "the skin file is " + std::to_string(size) + " bytes; the limit is " +
               std::to_string(limits.maxSkinSize) + " bytes";
    return {};
}

void checkStub(const std::uint8_t *stub, std::size_t stubSize)
{
    analyzeStub(stub, stubSize);
}

InstallerFrame frameInstaller(const std::uint8_t *stubData, std::size_t stubSize, const std::string &skinName,
                              std::uint64_t skinSize, const PackLimits &limits)
{
    const std::string nameProblem = skinNameProblem(skinName);
    if (!nameProblem.empty())
        throw PackError(Culprit::Skin, nameProblem);
    const std::string sizeProblem = skinSizeProblem(skinSize, limits);
    if (!sizeProblem.empty())
        throw PackError(Culprit::Skin, sizeProblem);

    Stub stub = analyzeStub(stubData, stubSize);
    const PeImage &image = stub.image;
    try
    {
        Resource skinResource;
        skinResource.type = ResourceId::fromName(u"SKIN");
        skinResource.name = ResourceId::fromName(skinResourceName(skinName));
        skinResource.language = kSkinLanguage;
        skinResource.codePage = kSkinCodePage;
        skinResource.data = nullptr; // left out: the writer adds the skin's bytes
        skinResource.size = static_cast<std::size_t>(skinSize);
        std::vector<Resource> all = stub.resources;
        all.push_back(skinResource);
        const ResourceSection section(std::move(all));
        const std::size_t skinBlob = section.blobOffset(skinResource.type, skinResource.name, kSkinLanguage);
        const std::size_t skinBytes = skinResource.size;

        const Plan plan = choosePlan(image);
        // The resource section starts on a page boundary of the file, so that
        // a loader can map its pages straight from the file. (Wine reads a
        // section that does not into memory whole when the process starts,
        // which for a large skin costs about as much as installing it.)
        const std::uint32_t dataAlignment = std::max(image.fileAlignment, kPageSize);
        const std::uint64_t newRaw = alignUp(section.size(), image.fileAlignment);
        std::vector<Section> sections = image.sections;
        std::vector<std::uint8_t> out;
        std::uint32_t rsrcRva = 0;
        std::size_t rsrcOffset = 0;
        std::int64_t initializedDelta = 0;
        std::int64_t symbolShift = 0;
        std::size_t symbolFrom = 0;
        std::int64_t relocShift = 0;

        if (plan.inPlace)
        {
            Section &rsrc = sections[plan.rsrcIndex];
            const std::size_t oldOffset = rsrc.pointerToRawData;
            const std::size_t oldEnd = oldOffset + rsrc.sizeOfRawData;
            const std::uint64_t newOffset = alignUp(oldOffset, dataAlignment);
            const std::int64_t growth = static_cast<std::int64_t>(newRaw) - rsrc.sizeOfRawData;
            const std::int64_t fileShift = static_cast<std::int64_t>(newOffset - oldOffset) + growth;
            if ((rsrc.characteristics & kScnCntInitializedData) != 0)
                initializedDelta = growth;
            rsrc.pointerToRawData = checked32(static_cast<std::int64_t>(newOffset), "resource section offset");
            rsrc.virtualSize = checked32(static_cast<std::int64_t>(section.size()), "resource section size");
            rsrc.sizeOfRawData = checked32(static_cast<std::int64_t>(newRaw), "resource section size");
            std::uint64_t nextVa =
                alignUp(std::uint64_t{rsrc.virtualAddress} + rsrc.virtualSize, image.sectionAlignment);
            for (std::size_t i = plan.rsrcIndex + 1; i < sections.size(); ++i)
            {
                Section &s = sections[i];
                if (i == plan.rsrcIndex + 1)
                    relocShift = static_cast<std::int64_t>(nextVa) - s.virtualAddress;
                s.virtualAddress = checked32(static_cast<std::int64_t>(s.virtualAddress) + relocShift, "section RVA");
                if (s.sizeOfRawData != 0)
                    s.pointerToRawData =
                        checked32(static_cast<std::int64_t>(s.pointerToRawData) + fileShift, "section offset");
            }
            rsrcRva = rsrc.virtualAddress;
            rsrcOffset = rsrc.pointerToRawData;
            symbolFrom = oldEnd;
            symbolShift = fileShift;

            const std::size_t tail = stubSize - oldEnd;
            out.assign(rsrcOffset + static_cast<std::size_t>(newRaw) - skinBytes + tail, 0);
            std::memcpy(out.data(), stubData, oldOffset);
            std::memcpy(out.data() + rsrcOffset + newRaw - skinBytes, stubData + oldEnd, tail);
        }
        else
        {
            const std::size_t n = sections.size();
            const std::size_t header = image.offsets.sectionTable + 40 * n;
            if (header + 40 > image.sizeOfHeaders ||
                std::any_of(stubData + header, stubData + header + 40, [](std::uint8_t b) { return b != 0; }))
                throw FormatError("its resource section cannot grow in place and there is no room for another "
                                  "section header");
            const std::size_t dataEnd = image.endOfSectionData();
            const std::uint64_t rawStart = alignUp(dataEnd, dataAlignment);
            Section s;
            s.name = ".rsrc";
            s.virtualAddress = image.sizeOfImage;
            s.virtualSize = checked32(static_cast<std::int64_t>(section.size()), "resource section size");
            s.sizeOfRawData = checked32(static_cast<std::int64_t>(newRaw), "resource section size");
            s.pointerToRawData = checked32(static_cast<std::int64_t>(rawStart), "resource section offset");
            s.characteristics = kScnCntInitializedData | kScnMemRead;
            sections.push_back(s);
            initializedDelta = static_cast<std::int64_t>(newRaw);
            rsrcRva = s.virtualAddress;
            rsrcOffset = s.pointerToRawData;
            symbolFrom = dataEnd;
            symbolShift = static_cast<std::int64_t>(rawStart + newRaw - dataEnd);

            const std::size_t tail = stubSize - dataEnd;
            out.assign(static_cast<std::size_t>(rawStart + newRaw) - skinBytes + tail, 0);
            std::memcpy(out.data(), stubData, dataEnd);
            std::memcpy(out.data() + rawStart + newRaw - skinBytes, stubData + dataEnd, tail);

            std::uint8_t *h = out.data() + header;
            std::copy(s.name.begin(), s.name.end(), h); // 8 bytes at most, no terminator
            store32(h + 36, s.characteristics);
            store16(out.data() + image.offsets.numberOfSections, static_cast<std::uint16_t>(n + 1));
        }

        const Section &last = sections.back();
        const std::uint64_t sizeOfImage =
            alignUp(std::uint64_t{last.virtualAddress} + last.mappedSize(), image.sectionAlignment);
        if (sizeOfImage > kMaxImageSize)
            throw PackError(Culprit::Skin, "the installer image would be " + std::to_string(sizeOfImage) +
                                               " bytes; the limit is " + std::to_string(kMaxImageSize));

        section.write(rsrcRva, out.data() + rsrcOffset);
        for (std::size_t i = 0; i < sections.size(); ++i)
            writeSectionHeader(out.data(), image, i, sections[i]);

        std::uint8_t *o = out.data();
        store32(o + image.offsets.sizeOfImage, static_cast<std::uint32_t>(sizeOfImage));
        store32(o + image.offsets.sizeOfInitializedData,
                checked32(static_cast<std::int64_t>(image.sizeOfInitializedData) + initializedDelta,
                          "SizeOfInitializedData"));
        store32(o + image.offsets.dataDirectories + 8 * kDirResource, rsrcRva);
        store32(o + image.offsets.dataDirectories + 8 * kDirResource + 4, static_cast<std::uint32_t>(section.size()));
        const DataDirectory reloc = image.directory(kDirBaseReloc);
        if (relocShift != 0 && reloc.rva != 0)
            store32(o + image.offsets.dataDirectories + 8 * kDirBaseReloc,
                    checked32(static_cast<std::int64_t>(reloc.rva) + relocShift, "base relocation RVA"));
        if (image.pointerToSymbolTable != 0 && image.pointerToSymbolTable >= symbolFrom)
            store32(
                o + image.offsets.pointerToSymbolTable,
                checked32(static_cast<std::int64_t>(image.pointerToSymbolTable) + symbolShift, "PointerToSymbolTable"));
        store32(o + image.offsets.checksum, 0);

        InstallerFrame frame;
        const std::size_t skinAt = rsrcOffset + skinBlob;
        frame.head.assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(skinAt));
        frame.skinSize = skinSize;
        frame.tail.assign(out.begin() + static_cast<std::ptrdiff_t>(skinAt), out.end());
        frame.checksumOffset = image.offsets.checksum;
        return frame;
    }
    catch (const FormatError &e)
    {
        throw PackError(Culprit::Stub, std::string("not a usable installer stub: ") + e.what());
    }
    catch (const std::invalid_argument &e)
    {
        throw PackError(Culprit::Stub, std::string("cannot lay out the resources: ") + e.what());
    }
}

std::vector<std::uint8_t> packInstaller(const std::uint8_t *stub, std::size_t stubSize, const std::string &skinName,
                                        const std::uint8_t *skin, std::size_t skinSize, const PackLimits &limits)
{
    const InstallerFrame frame = frameInstaller(stub, stubSize, skinName, skinSize, limits);
    std::vector<std::uint8_t> out;
    out.reserve(frame.head.size() + skinSize + frame.tail.size());
    out.insert(out.end(), frame.head.begin(), frame.head.end());
    out.insert(out.end(), skin, skin + skinSize);
    out.insert(out.end(), frame.tail.begin(), frame.tail.end());
    store32(out.data() + frame.checksumOffset, peChecksum(out.data(), out.size(), frame.checksumOffset));
    return out;
}

} // namespace skinpack

// Packing a skin into the stub: the resource tree, the resource bytes, the
// headers, the checksum, agreement with windres, and the inputs refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "pack.h"
#include "pe_image.h"
#include "resource_section.h"
#include "test_support.h"

using skinpack::PackError;
using skinpack::PeImage;
using skinpack::Resource;
using skinpack::ResourceId;
using namespace skinpack_test;

namespace {

const ResourceId kSkinType = ResourceId::fromName(u"SKIN");
const ResourceId kIconType = ResourceId::fromId(3);
const ResourceId kGroupIconType = ResourceId::fromId(14);

std::vector<std::uint8_t> pack(const std::vector<std::uint8_t> &stub, const std::string &name,
                               const std::vector<std::uint8_t> &skin, const skinpack::PackLimits &limits = {})
{
    return skinpack::packInstaller(stub.data(), stub.size(), name, skin.data(), skin.size(), limits);
}

std::vector<std::uint8_t> bytesOf(const Resource &r)
{
    return std::vector<std::uint8_t>(r.data, r.data + r.size);
}

// Checks the regions of a resource section: tables, then data entries, then
// strings, then 8-aligned blobs with zero padding.
void expectMicrosoftLayout(const PeImage &image)
{
    const skinpack::DataDirectory dir = image.directory(skinpack::kDirResource);
    const std::uint8_t *base = image.data() + image.fileOffsetOf(dir.rva, dir.size);
    const auto tableEnd = [base](std::size_t at) {
        return at + 16 +
               std::size_t{8} * (std::size_t{skinpack::load16(base + at + 12)} + skinpack::load16(base + at + 14));
    };
    // Walk the tables breadth first, recording where each kind of thing lies.
    std::vector<std::size_t> tables{0};
    std::vector<std::size_t> dataEntries;
    std::vector<std::size_t> strings;
    for (std::size_t level = 0, begin = 0; level < 3; ++level)
    {
        const std::size_t end = tables.size();
        for (std::size_t t = begin; t < end; ++t)
        {
            const std::size_t at = tables[t];
            const std::size_t count = skinpack::load16(base + at + 12) + std::size_t{skinpack::load16(base + at + 14)};
            for (std::size_t e = 0; e < count; ++e)
            {
                const std::uint32_t nameField = skinpack::load32(base + at + 16 + 8 * e);
                const std::uint32_t target = skinpack::load32(base + at + 16 + 8 * e + 4);
                if (nameField & 0x80000000u)
                    strings.push_back(nameField & 0x7fffffffu);
                if (level < 2)
                {
                    EXPECT_NE(target & 0x80000000u, 0u) << "level " << level << " entry " << e;
                    EXPECT_EQ(target & 0x7fffffffu, tableEnd(tables.back()))
                        << "tables are not laid out one after another, breadth first";
                    tables.push_back(target & 0x7fffffffu);
                }
                else
                {
                    dataEntries.push_back(target);
                }
            }
        }
        begin = end;
    }
    const std::size_t lastTable = tables.back();
    const std::size_t tablesEnd = tableEnd(lastTable);
    ASSERT_FALSE(dataEntries.empty());
    for (std::size_t i = 0; i < dataEntries.size(); ++i)
        EXPECT_EQ(dataEntries[i], tablesEnd + 16 * i) << "data entry " << i;
    const std::size_t entriesEnd = tablesEnd + 16 * dataEntries.size();
    std::sort(strings.begin(), strings.end());
    strings.erase(std::unique(strings.begin(), strings.end()), strings.end());
    std::size_t stringsEnd = entriesEnd;
    for (std::size_t s : strings)
    {
        EXPECT_EQ(s, stringsEnd) << "name strings must follow the data entries, packed";
        stringsEnd = s + 2 + 2 * std::size_t{skinpack::load16(base + s)};
    }
    std::size_t expectedBlob = (stringsEnd + 7) & ~std::size_t{7};
    for (std::size_t i = 0; i < dataEntries.size(); ++i)
    {
        const std::uint32_t rva = skinpack::load32(base + dataEntries[i]);
        const std::uint32_t size = skinpack::load32(base + dataEntries[i] + 4);
        EXPECT_EQ(rva - dir.rva, expectedBlob) << "blob " << i;
        for (std::size_t pad = expectedBlob + size; pad % 8 != 0; ++pad)
            EXPECT_EQ(base[pad], 0) << "padding byte at " << pad;
        expectedBlob = (expectedBlob + size + 7) & ~std::size_t{7};
    }
    EXPECT_EQ(dir.size, expectedBlob) << "resource directory size";
}

// ---- The stub as it comes ----

TEST(StubReader, ReadsTheBareStub)
{
    const auto stub = stubBytes();
    const PeImage image = PeImage::parse(stub.data(), stub.size());
    EXPECT_EQ(image.machine, skinpack::kMachineI386);
    EXPECT_EQ(image.subsystem, skinpack::kSubsystemWindowsGui);
    const auto resources = image.resources();
    ASSERT_EQ(resources.size(), 2u);
    const Resource *icon = findResource(resources, kIconType, ResourceId::fromId(1));
    const Resource *group = findResource(resources, kGroupIconType, ResourceId::fromId(102));
    ASSERT_NE(icon, nullptr);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(icon->size, 1384u);
    EXPECT_EQ(group->size, 20u);
    // The linker's checksum agrees with both implementations.
    EXPECT_EQ(skinpack::peChecksum(stub.data(), stub.size(), image.offsets.checksum), image.checksum);
    EXPECT_EQ(referenceChecksum(stub, image.offsets.checksum), image.checksum);
}

// ---- Packing ----

struct SkinCase
{
    const char *name;
    const char *resourceName;
    std::size_t size; // 0: Winter.ovs
};

class PackSkin : public ::testing::TestWithParam<SkinCase>
{
};

const SkinCase skinCases[] = {
    {"Winter.ovs", "WINTER.OVS", 0},
    {"a.ovs", "A.OVS", 1},
    {"seven.ovs", "SEVEN.OVS", 7},
    {"eight.ovs", "EIGHT.OVS", 8},
    {"Mixed Case name.OvS", "MIXED CASE NAME.OVS", 4099},
    {"x]y.ovs", "X]Y.OVS", 65536},
    {"noext", "NOEXT", 300001},
    {"AAAA", "AAAA", 12},
};

TEST_P(PackSkin, OutputHasTheThreeResources)
{
    const SkinCase c = GetParam();
    const auto stub = stubBytes();
    const auto skin = c.size == 0 ? winterSkin() : patternBytes(c.size, static_cast<unsigned>(c.size));
    const auto out = pack(stub, c.name, skin);

    const PeImage stubImage = PeImage::parse(stub.data(), stub.size());
    const PeImage image = PeImage::parse(out.data(), out.size());
    const auto resources = image.resources();
    ASSERT_EQ(resources.size(), 3u);

    // Tree order: the named type first, then ids ascending.
    EXPECT_EQ(describe(resources[0].type), "\"SKIN\"");
    EXPECT_EQ(toAscii(resources[0].name.name), c.resourceName);
    EXPECT_TRUE(resources[0].name.isName);
    EXPECT_EQ(describe(resources[1].type), "3");
    EXPECT_EQ(describe(resources[1].name), "1");
    EXPECT_EQ(describe(resources[2].type), "14");
    EXPECT_EQ(describe(resources[2].name), "102");
    for (const Resource &r : resources)
    {
        EXPECT_EQ(r.language, 1033) << describe(r.type);
        EXPECT_EQ(r.codePage, 0u) << describe(r.type);
    }
    EXPECT_TRUE(bytesOf(resources[0]) == skin)
        << "SKIN resource: " << resources[0].size << " bytes, skin " << skin.size();
    const auto stubResources = stubImage.resources();
    for (const Resource &s : stubResources)
    {
        const Resource *r = findResource(resources, s.type, s.name);
        ASSERT_NE(r, nullptr) << describe(s.type) << "/" << describe(s.name);
        EXPECT_TRUE(bytesOf(*r) == bytesOf(s)) << describe(s.type) << "/" << describe(s.name);
    }

    // Headers.
    EXPECT_EQ(image.checksum, referenceChecksum(out, image.offsets.checksum));
    EXPECT_EQ(out.size() % image.fileAlignment, 0u);
    ASSERT_EQ(image.sections.size(), stubImage.sections.size());
    const std::size_t last = image.sections.size() - 1;
    EXPECT_EQ(image.sections[last - 1].name, ".rsrc");
    EXPECT_EQ(image.sections[last].name, ".reloc");
    EXPECT_EQ(image.directory(skinpack::kDirBaseReloc).rva, image.sections[last].virtualAddress);
    EXPECT_EQ(image.directory(skinpack::kDirBaseReloc).size, stubImage.directory(skinpack::kDirBaseReloc).size);
    // Relocation bytes moved unchanged; everything before .rsrc unchanged
    // except the patched header fields.
    const auto &oldReloc = stubImage.sections[last];
    const auto &newReloc = image.sections[last];
    EXPECT_TRUE(std::equal(stub.begin() + oldReloc.pointerToRawData,
                           stub.begin() + oldReloc.pointerToRawData + oldReloc.sizeOfRawData,
                           out.begin() + newReloc.pointerToRawData));
    // The resource section starts on a page boundary of the file, behind
    // zeros where the stub's started.
    const std::size_t oldRsrcStart = stubImage.sections[last - 1].pointerToRawData;
    const std::size_t rsrcStart = image.sections[last - 1].pointerToRawData;
    EXPECT_EQ(rsrcStart % 4096, 0u) << rsrcStart;
    EXPECT_EQ(rsrcStart, (oldRsrcStart + 4095) / 4096 * 4096);
    EXPECT_TRUE(std::equal(stub.begin() + 0x400, stub.begin() + static_cast<long>(oldRsrcStart), out.begin() + 0x400));
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<long>(oldRsrcStart), out.begin() + static_cast<long>(rsrcStart),
                            [](std::uint8_t b) { return b == 0; }));
    const std::int64_t growth =
        static_cast<std::int64_t>(image.sections[last - 1].sizeOfRawData) - stubImage.sections[last - 1].sizeOfRawData;
    EXPECT_EQ(static_cast<std::int64_t>(image.sizeOfInitializedData) - stubImage.sizeOfInitializedData, growth);
    EXPECT_EQ(image.sections[last - 1].virtualSize, image.directory(skinpack::kDirResource).size);
    expectMicrosoftLayout(image);
}

TEST_P(PackSkin, SameInputsGiveTheSameBytes)
{
    const SkinCase c = GetParam();
    const auto stub = stubBytes();
    const auto skin = c.size == 0 ? winterSkin() : patternBytes(c.size, 7);
    const auto first = pack(stub, c.name, skin);
    const auto second = pack(stub, c.name, skin);
    EXPECT_TRUE(first == second);
}

INSTANTIATE_TEST_SUITE_P(Skins, PackSkin, ::testing::ValuesIn(skinCases),
                         [](const auto &caseInfo) { return testName(caseInfo.index, caseInfo.param.name); });

TEST(PackAgainstWindres, ResourceDataEqualsWhatWindresBuilt)
{
    const auto stub = stubBytes();
    const auto reference = windresWinter();
    const auto out = pack(stub, "Winter.ovs", winterSkin());
    const PeImage mine = PeImage::parse(out.data(), out.size());
    const PeImage theirs = PeImage::parse(reference.data(), reference.size());
    const auto mineResources = mine.resources();
    const auto theirResources = theirs.resources();
    ASSERT_EQ(mineResources.size(), theirResources.size());
    for (std::size_t i = 0; i < theirResources.size(); ++i)
    {
        const Resource &t = theirResources[i];
        const Resource &m = mineResources[i];
        EXPECT_EQ(describe(m.type), describe(t.type)) << "resource " << i;
        EXPECT_EQ(describe(m.name), describe(t.name)) << "resource " << i;
        EXPECT_EQ(m.language, t.language) << "resource " << i;
        EXPECT_EQ(m.codePage, t.codePage) << "resource " << i;
        EXPECT_EQ(m.size, t.size) << "resource " << i;
        EXPECT_TRUE(bytesOf(m) == bytesOf(t)) << "data of resource " << describe(t.type) << "/" << describe(t.name);
    }
    // The same section sizes and image size as the linker gives; in the file
    // the resource section and what follows it sit further back, for the
    // resource section starts on a page boundary.
    EXPECT_EQ(mine.sizeOfImage, theirs.sizeOfImage);
    EXPECT_EQ(mine.sizeOfInitializedData, theirs.sizeOfInitializedData);
    const int rsrc = theirs.sectionIndexForRva(theirs.directory(skinpack::kDirResource).rva);
    ASSERT_GE(rsrc, 0);
    const std::uint32_t theirRsrc = theirs.sections[static_cast<std::size_t>(rsrc)].pointerToRawData;
    const std::uint32_t pad = (theirRsrc + 4095) / 4096 * 4096 - theirRsrc;
    EXPECT_EQ(out.size(), reference.size() + pad);
    for (std::size_t i = 0; i < theirs.sections.size(); ++i)
    {
        const std::uint32_t moved = i >= static_cast<std::size_t>(rsrc) ? pad : 0;
        EXPECT_EQ(mine.sections[i].virtualAddress, theirs.sections[i].virtualAddress) << theirs.sections[i].name;
        EXPECT_EQ(mine.sections[i].pointerToRawData, theirs.sections[i].pointerToRawData + moved)
            << theirs.sections[i].name;
        EXPECT_EQ(mine.sections[i].sizeOfRawData, theirs.sections[i].sizeOfRawData) << theirs.sections[i].name;
    }
}

// ---- Layouts other than GNU ld's ----

TEST(PackGeneral, AppendsASectionWhenTheResourcesCannotGrowInPlace)
{
    // Without a base relocation directory, .reloc is an ordinary section that
    // must not move: the new resources go into a section of their own.
    auto stub = stubBytes();
    const PeImage original = PeImage::parse(stub.data(), stub.size());
    std::memset(stub.data() + original.offsets.dataDirectories + 8 * skinpack::kDirBaseReloc, 0, 8);
    const auto skin = patternBytes(5000, 3);
    const auto out = pack(stub, "Apart.ovs", skin);
    const PeImage image = PeImage::parse(out.data(), out.size());
    ASSERT_EQ(image.sections.size(), original.sections.size() + 1);
    for (std::size_t i = 0; i < original.sections.size(); ++i)
    {
        EXPECT_EQ(image.sections[i].virtualAddress, original.sections[i].virtualAddress) << i;
        EXPECT_EQ(image.sections[i].pointerToRawData, original.sections[i].pointerToRawData) << i;
    }
    const skinpack::Section &added = image.sections.back();
    EXPECT_EQ(added.name, ".rsrc");
    EXPECT_EQ(added.virtualAddress, original.sizeOfImage);
    EXPECT_EQ(added.pointerToRawData % 4096, 0u) << added.pointerToRawData;
    EXPECT_EQ(image.directory(skinpack::kDirResource).rva, added.virtualAddress);
    EXPECT_EQ(image.sizeOfInitializedData, original.sizeOfInitializedData + added.sizeOfRawData);
    EXPECT_EQ(image.checksum, referenceChecksum(out, image.offsets.checksum));
    const auto resources = image.resources();
    ASSERT_EQ(resources.size(), 3u);
    EXPECT_TRUE(bytesOf(resources[0]) == skin);
    expectMicrosoftLayout(image);
}

TEST(PackGeneral, GrowsTheResourceSectionInPlaceWhenItIsLast)
{
    // The stub without its .reloc section: .rsrc is the last section.
    auto stub = stubBytes();
    const PeImage original = PeImage::parse(stub.data(), stub.size());
    const std::size_t last = original.sections.size() - 1;
    ASSERT_EQ(original.sections[last].name, ".reloc");
    const skinpack::Section &rsrc = original.sections[last - 1];
    std::memset(stub.data() + original.offsets.dataDirectories + 8 * skinpack::kDirBaseReloc, 0, 8);
    std::memset(stub.data() + original.offsets.sectionTable + 40 * last, 0, 40);
    skinpack::store16(stub.data() + original.offsets.numberOfSections, static_cast<std::uint16_t>(last));
    skinpack::store32(stub.data() + original.offsets.sizeOfImage, original.sections[last].virtualAddress);
    stub.resize(original.sections[last].pointerToRawData);
    const PeImage shortened = PeImage::parse(stub.data(), stub.size());
    ASSERT_EQ(shortened.sections.size(), last);

    const auto skin = patternBytes(70000, 11);
    const auto out = pack(stub, "Last.ovs", skin);
    const PeImage image = PeImage::parse(out.data(), out.size());
    ASSERT_EQ(image.sections.size(), last);
    const skinpack::Section &grown = image.sections.back();
    EXPECT_EQ(grown.virtualAddress, rsrc.virtualAddress);
    EXPECT_EQ(grown.pointerToRawData, (rsrc.pointerToRawData + 4095u) / 4096 * 4096);
    EXPECT_GE(grown.virtualSize, skin.size());
    EXPECT_EQ(out.size(), std::size_t{grown.pointerToRawData} + grown.sizeOfRawData);
    EXPECT_EQ(image.sizeOfImage % image.sectionAlignment, 0u);
    EXPECT_EQ(image.checksum, referenceChecksum(out, image.offsets.checksum));
    const auto resources = image.resources();
    ASSERT_EQ(resources.size(), 3u);
    EXPECT_TRUE(bytesOf(resources[0]) == skin);
    expectMicrosoftLayout(image);
}

TEST(PackGeneral, AnEmptyResourceLaidOutLastReadsBack)
{
    // A stub whose icon group holds no bytes: in the new section it sorts
    // behind the skin, so its data entry points at the very end of the
    // section. The output must still read back.
    auto stub = stubBytes();
    const PeImage original = PeImage::parse(stub.data(), stub.size());
    const auto stubResources = original.resources();
    const Resource *group = findResource(stubResources, kGroupIconType, ResourceId::fromId(102));
    ASSERT_NE(group, nullptr);
    const skinpack::Section &rsrc = original.sections[static_cast<std::size_t>(
        original.sectionIndexForRva(original.directory(skinpack::kDirResource).rva))];
    const std::uint32_t groupRva =
        rsrc.virtualAddress + static_cast<std::uint32_t>(group->data - stub.data() - rsrc.pointerToRawData);
    std::size_t entry = 0;
    for (std::size_t at = rsrc.pointerToRawData; at + 8 <= std::size_t{rsrc.pointerToRawData} + rsrc.sizeOfRawData;
         at += 4)
        if (skinpack::load32(stub.data() + at) == groupRva && skinpack::load32(stub.data() + at + 4) == group->size)
            entry = at;
    ASSERT_NE(entry, 0u) << "no data entry for the icon group at RVA " << groupRva;
    skinpack::store32(stub.data() + entry + 4, 0);

    const auto skin = patternBytes(3001, 5);
    const auto out = pack(stub, "Empty.ovs", skin);
    const PeImage image = PeImage::parse(out.data(), out.size());
    const auto resources = image.resources();
    const Resource *emptyGroup = findResource(resources, kGroupIconType, ResourceId::fromId(102));
    ASSERT_NE(emptyGroup, nullptr);
    EXPECT_EQ(emptyGroup->size, 0u);
    const Resource *packed = findResource(resources, kSkinType, ResourceId::fromName(u"EMPTY.OVS"));
    ASSERT_NE(packed, nullptr);
    EXPECT_TRUE(bytesOf(*packed) == skin);
    EXPECT_EQ(image.checksum, referenceChecksum(out, image.offsets.checksum));
}

TEST(PackGeneral, KeepsBytesBehindTheLastSection)
{
    auto stub = stubBytes();
    const std::vector<std::uint8_t> overlay = patternBytes(777, 9);
    stub.insert(stub.end(), overlay.begin(), overlay.end());
    const auto out = pack(stub, "Winter.ovs", winterSkin());
    ASSERT_GE(out.size(), overlay.size());
    EXPECT_TRUE(std::equal(overlay.begin(), overlay.end(), out.end() - static_cast<long>(overlay.size())));
    const PeImage image = PeImage::parse(out.data(), out.size());
    EXPECT_EQ(image.endOfSectionData() + overlay.size(), out.size());
    EXPECT_EQ(image.checksum, referenceChecksum(out, image.offsets.checksum));
}

// ---- Names ----

struct NameCase
{
    const char *name;
    const char *expectedInMessage; // nullptr: accepted
};

class SkinNames : public ::testing::TestWithParam<NameCase>
{
};

const NameCase nameCases[] = {
    {"Winter.ovs", nullptr},
    {"x]y.ovs", nullptr},
    {"console.ovs", nullptr},
    {"COM10.ovs", nullptr},
    {"nul2.ovs", nullptr},
    {".hidden.ovs", nullptr},
    {" lead.ovs", nullptr},
    {"a b.ovs", nullptr},
    {"", "empty"},
    {"a\\b.ovs", "'\\'"},
    {"a/b.ovs", "'/'"},
    {"a:b.ovs", "':'"},
    {"a*.ovs", "'*'"},
    {"a?.ovs", "'?'"},
    {"a\".ovs", "'\"'"},
    {"a<b.ovs", "'<'"},
    {"a>b.ovs", "'>'"},
    {"a|b.ovs", "'|'"},
    {"tab\t.ovs", "control character"},
    {"nl\n.ovs", "control character"},
    {"\x01.ovs", "control character"},
    {"\x7f.ovs", "control character"},
    {"caf\xc3\xa9.ovs", "non-ASCII"},
    {"trailing.", "ends in a dot"},
    {"trailing ", "ends in a space"},
    {".", "ends in a dot"},
    {"..", "ends in a dot"},
    {"CON", "reserved"},
    {"con.ovs", "reserved"},
    {"Prn.ovs", "reserved"},
    {"aux", "reserved"},
    {"NUL.tar.ovs", "reserved"},
    {"nul .ovs", "reserved"},
    {"COM1.ovs", "reserved"},
    {"com9", "reserved"},
    {"LPT1.ovs", "reserved"},
    {"lpt9.ovs", "reserved"},
    {"a[b.ovs", "'['"},
    {"[x].ovs", "'['"},
    {"#12.ovs", "'#'"},
};

TEST_P(SkinNames, AcceptedOrRefusedWithAReason)
{
    const NameCase c = GetParam();
    const std::string problem = skinpack::skinNameProblem(c.name);
    if (c.expectedInMessage == nullptr)
    {
        EXPECT_EQ(problem, "") << "name \"" << c.name << "\"";
        return;
    }
    EXPECT_NE(problem.find(c.expectedInMessage), std::string::npos)
        << "name \"" << c.name << "\": message \"" << problem << "\", expected it to mention \"" << c.expectedInMessage
        << "\"";
    // packInstaller refuses it too, blaming the skin.
    const auto stub = stubBytes();
    try
    {
        pack(stub, c.name, winterSkin());
        ADD_FAILURE() << "packed a skin named \"" << c.name << "\"";
    }
    catch (const PackError &e)
    {
        EXPECT_EQ(e.culprit(), PackError::Culprit::Skin) << e.what();
        EXPECT_EQ(std::string(e.what()), problem);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SkinNames, ::testing::ValuesIn(nameCases),
                         [](const auto &caseInfo) { return testName(caseInfo.index, caseInfo.param.name); });

TEST(SkinNameLength, LimitIsTheInstalledPathBudget)
{
    const std::string installed = "C:\\Program Files\\Orvanta\\ov-skins\\";
    EXPECT_EQ(installed.size() + skinpack::kMaxSkinNameLength, 259u);
    struct
    {
        std::size_t length;
        bool accepted;
    } cases[] = {{1, true},
                 {skinpack::kMaxSkinNameLength - 1, true},
                 {skinpack::kMaxSkinNameLength, true},
                 {skinpack::kMaxSkinNameLength + 1, false},
                 {300, false}};
    for (const auto &c : cases)
    {
        const std::string name = std::string(c.length, 'n');
        const std::string problem = skinpack::skinNameProblem(name);
        EXPECT_EQ(problem.empty(), c.accepted) << "length " << c.length << ": \"" << problem << "\"";
        if (!c.accepted)
        {
            EXPECT_NE(problem.find(std::to_string(skinpack::kMaxSkinNameLength)), std::string::npos) << problem;
        }
    }
}

// ---- Sizes ----

TEST(SkinSize, EmptyAndTooLargeAreRefused)
{
    const auto stub = stubBytes();
    struct
    {
        std::size_t size;
        std::uint64_t limit;
        const char *expected; // nullptr: accepted
    } cases[] = {
        {0, 100, "empty"},
        {1, 100, nullptr},
        {100, 100, nullptr},
        {101, 100, "limit is 100 bytes"},
        {4096, 4095, "limit is 4095 bytes"},
    };
    for (const auto &c : cases)
    {
        skinpack::PackLimits limits;
        limits.maxSkinSize = c.limit;
        const auto skin = patternBytes(c.size, 1);
        try
        {
            const auto out = pack(stub, "Sized.ovs", skin, limits);
            EXPECT_EQ(c.expected, nullptr) << "size " << c.size << " packed, expected refusal";
            const PeImage image = PeImage::parse(out.data(), out.size());
            EXPECT_EQ(image.resources()[0].size, c.size);
        }
        catch (const PackError &e)
        {
            ASSERT_NE(c.expected, nullptr) << "size " << c.size << " refused: " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos)
                << "size " << c.size << ": \"" << e.what() << "\"";
            EXPECT_EQ(e.culprit(), PackError::Culprit::Skin);
        }
    }
    EXPECT_EQ(skinpack::kMaxSkinSize, std::uint64_t{1} << 30);
    EXPECT_LT(skinpack::kMaxImageSize, std::uint64_t{1} << 31);
}

// ---- Stubs refused ----

struct StubCase
{
    const char *label;
    std::vector<std::uint8_t> (*make)();
    const char *expectedInMessage;
};

std::vector<std::uint8_t> truncatedTo(std::size_t size)
{
    auto s = stubBytes();
    s.resize(std::min(size, s.size()));
    return s;
}

std::uint32_t peOffset(const std::vector<std::uint8_t> &s)
{
    return skinpack::load32(s.data() + 0x3c);
}

template <std::size_t Offset, std::uint16_t Value> std::vector<std::uint8_t> with16AtPe()
{
    auto s = stubBytes();
    skinpack::store16(s.data() + peOffset(s) + Offset, Value);
    return s;
}

template <std::size_t Offset, std::uint32_t Value> std::vector<std::uint8_t> with32AtPe()
{
    auto s = stubBytes();
    skinpack::store32(s.data() + peOffset(s) + Offset, Value);
    return s;
}

// Offsets from "PE\0\0": file header at 4, optional header at 24, data
// directories at 24 + 96, section table at 24 + 224.
constexpr std::size_t kMachine = 4, kSections = 6, kCharacteristics = 22, kMagic = 24, kSubsystem = 24 + 68,
                      kFileAlign = 24 + 36, kSizeOfImage = 24 + 56, kDirs = 24 + 96, kSectionTable = 24 + 224;

std::vector<std::uint8_t> signedStub()
{
    auto s = stubBytes();
    skinpack::store32(s.data() + peOffset(s) + kDirs + std::size_t{8} * 4, 0x4800);
    skinpack::store32(s.data() + peOffset(s) + kDirs + std::size_t{8} * 4 + 4, 0x100);
    return s;
}

std::vector<std::uint8_t> resourceDirOutsideImage()
{
    auto s = stubBytes();
    skinpack::store32(s.data() + peOffset(s) + kDirs + std::size_t{8} * 2, 0x7fff0000);
    return s;
}

std::vector<std::uint8_t> resourceTreeLoop()
{
    // The type table's first entry points back at the root table.
    auto s = stubBytes();
    const PeImage image = PeImage::parse(s.data(), s.size());
    const std::size_t root = image.fileOffsetOf(image.directory(2).rva, 16);
    skinpack::store32(s.data() + root + 16 + 4, 0x80000000u);
    return s;
}

std::vector<std::uint8_t> resourceDataOutsideSection()
{
    auto s = stubBytes();
    const PeImage image = PeImage::parse(s.data(), s.size());
    const auto resources = image.resources();
    // Find the first data entry: it points at the first blob.
    const std::size_t root = image.fileOffsetOf(image.directory(2).rva, 16);
    for (std::size_t at = root; at + 8 < root + image.directory(2).size; at += 4)
        if (skinpack::load32(s.data() + at) == image.directory(2).rva + (resources[0].data - (s.data() + root)))
        {
            skinpack::store32(s.data() + at + 4, 0x100000); // size far past the section
            return s;
        }
    return {};
}

std::vector<std::uint8_t> sectionPastEnd()
{
    auto s = stubBytes();
    skinpack::store32(s.data() + peOffset(s) + kSectionTable + std::size_t{40} * 9 + 20, 0x100000);
    return s;
}

std::vector<std::uint8_t> notMz()
{
    auto s = stubBytes();
    s[0] = 'Z';
    return s;
}

std::vector<std::uint8_t> peOffsetPastEnd()
{
    auto s = stubBytes();
    skinpack::store32(s.data() + 0x3c, 0x7ffffff0);
    return s;
}

std::vector<std::uint8_t> noPeSignature()
{
    auto s = stubBytes();
    s[peOffset(s)] = 'X';
    return s;
}

std::vector<std::uint8_t> windresBuilt()
{
    return windresWinter();
}
std::vector<std::uint8_t> empty()
{
    return {};
}
std::vector<std::uint8_t> truncatedHeaders()
{
    return truncatedTo(0x100);
}
std::vector<std::uint8_t> truncatedMz()
{
    return truncatedTo(0x3e);
}
std::vector<std::uint8_t> truncatedSections()
{
    return truncatedTo(0x3c00);
}
std::vector<std::uint8_t> truncatedByOne()
{
    return truncatedTo(stubBytes().size() - 1);
}

const StubCase stubCases[] = {
    {"empty file", empty, "no MZ header"},
    {"not MZ", notMz, "no MZ header"},
    {"cut inside the MZ header", truncatedMz, "truncated"},
    {"cut inside the headers", truncatedHeaders, "truncated"},
    {"cut inside the sections", truncatedSections, "truncated"},
    {"cut by one byte", truncatedByOne, "truncated"},
    {"PE offset past the end", peOffsetPastEnd, "truncated"},
    {"no PE signature", noPeSignature, "no PE signature"},
    {"amd64", with16AtPe<kMachine, 0x8664>, "not an i386 image"},
    {"PE32+ magic", with16AtPe<kMagic, 0x20b>, "not a PE32 image"},
    {"console program", with16AtPe<kSubsystem, 3>, "not a Windows GUI program"},
    {"DLL", with16AtPe<kCharacteristics, 0x2102>, "DLL"},
    {"not executable", with16AtPe<kCharacteristics, 0x0100>, "not an executable image"},
    {"no sections", with16AtPe<kSections, 0>, "number of sections"},
    {"too many sections", with16AtPe<kSections, 200>, "number of sections"},
    {"bad file alignment", with32AtPe<kFileAlign, 0x300>, "file alignment"},
    {"wrong SizeOfImage", with32AtPe<kSizeOfImage, 0x100000>, "SizeOfImage"},
    {"section raw data past the end", sectionPastEnd, "truncated"},
    {"signed", signedStub, "signed"},
    {"resource directory outside the image", resourceDirOutsideImage, "lies in no section"},
    {"resource tree loops", resourceTreeLoop, "malformed resources"},
    {"resource data past its section", resourceDataOutsideSection, "runs past its section"},
    {"already carries a skin", windresBuilt, "already carries a SKIN resource"},
};

class BadStubs : public ::testing::TestWithParam<StubCase>
{
};

TEST_P(BadStubs, AreRefusedWithAReason)
{
    const StubCase c = GetParam();
    const auto stub = c.make();
    ASSERT_TRUE(!stub.empty() || std::string(c.label) == "empty file") << c.label << ": could not build the case";
    const auto skin = winterSkin();
    try
    {
        skinpack::checkStub(stub.data(), stub.size());
        ADD_FAILURE() << c.label << ": checkStub accepted it";
    }
    catch (const PackError &e)
    {
        EXPECT_EQ(e.culprit(), PackError::Culprit::Stub) << c.label;
    }
    try
    {
        const auto out = skinpack::packInstaller(stub.data(), stub.size(), "Winter.ovs", skin.data(), skin.size());
        ADD_FAILURE() << c.label << ": packed into " << out.size() << " bytes";
    }
    catch (const PackError &e)
    {
        EXPECT_EQ(e.culprit(), PackError::Culprit::Stub) << c.label;
        EXPECT_NE(std::string(e.what()).find(c.expectedInMessage), std::string::npos)
            << c.label << ": message \"" << e.what() << "\", expected it to mention \"" << c.expectedInMessage << "\"";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BadStubs, ::testing::ValuesIn(stubCases),
                         [](const auto &caseInfo) { return testName(caseInfo.index, caseInfo.param.label); });

TEST(BadStubs, EveryTruncationIsRefusedCleanly)
{
    // Each prefix of the stub either packs into a readable image or is refused.
    const auto full = stubBytes();
    const auto skin = winterSkin();
    std::size_t refused = 0;
    for (std::size_t size = 0; size < full.size(); size += 97)
    {
        try
        {
            skinpack::packInstaller(full.data(), size, "Winter.ovs", skin.data(), skin.size());
            ADD_FAILURE() << "packed a stub cut to " << size << " of " << full.size() << " bytes";
        }
        catch (const PackError &)
        {
            ++refused;
        }
    }
    EXPECT_EQ(refused, (full.size() + 96) / 97);
}

// ---- The checksum over pieces ----

TEST(Checksum, PiecesGiveTheChecksumOfTheWholeFile)
{
    // Pieces of odd and even lengths, starting at odd and even offsets, with
    // the CheckSum field in the first piece or straddling two.
    struct
    {
        std::size_t fileSize;
        std::size_t checksumOffset;
        std::vector<std::size_t> cuts; // where a new piece starts
    } cases[] = {
        {7, 2, {1, 3, 5}},
        {4096, 216, {}},
        {4096, 216, {1000}},
        {4097, 216, {1}},
        {4097, 216, {217, 218, 1001, 3333}},
        {70001, 64, {3, 5, 8, 65535, 65536, 65537, 70000}},
        {(1u << 20) + 3, 216, {7, 216 + 4, 99999}},
    };
    for (const auto &c : cases)
    {
        auto file = patternBytes(c.fileSize, static_cast<unsigned>(c.fileSize));
        // Many carries: a run of 0xff bytes.
        for (std::size_t i = 0; i < file.size() / 3; ++i)
            file[i] = 0xff;
        const std::uint32_t expected = referenceChecksum(file, c.checksumOffset);
        EXPECT_EQ(skinpack::peChecksum(file.data(), file.size(), c.checksumOffset), expected) << "size " << c.fileSize;

        auto zeroed = file;
        for (std::size_t i = c.checksumOffset; i < c.checksumOffset + 4 && i < zeroed.size(); ++i)
            zeroed[i] = 0;
        skinpack::ChecksumSum sum;
        std::size_t from = 0;
        std::vector<std::size_t> cuts = c.cuts;
        cuts.push_back(zeroed.size());
        for (std::size_t cut : cuts)
        {
            sum.add(zeroed.data() + from, cut - from);
            from = cut;
        }
        EXPECT_EQ(sum.finish(), expected) << "size " << c.fileSize << ", " << c.cuts.size() << " cuts";
    }
}

// ---- The resource section builder on its own ----

TEST(ResourceSectionBuilder, SortsNamesBeforeIdsAndNamesOrdinally)
{
    const std::uint8_t blob[] = {1, 2, 3};
    struct
    {
        ResourceId type;
        ResourceId name;
        std::uint16_t language;
    } input[] = {
        {ResourceId::fromId(14), ResourceId::fromId(102), 1033},
        {ResourceId::fromName(u"b"), ResourceId::fromId(5), 1033},
        {ResourceId::fromName(u"SKIN"), ResourceId::fromName(u"a"), 1033},
        {ResourceId::fromName(u"SKIN"), ResourceId::fromName(u"B"), 1033},
        {ResourceId::fromName(u"SKIN"), ResourceId::fromName(u"B"), 7},
        {ResourceId::fromId(3), ResourceId::fromId(2), 1033},
        {ResourceId::fromId(3), ResourceId::fromId(1), 1033},
    };
    std::vector<Resource> resources;
    for (const auto &i : input)
    {
        Resource r;
        r.type = i.type;
        r.name = i.name;
        r.language = i.language;
        r.data = blob;
        r.size = sizeof blob;
        resources.push_back(r);
    }
    const std::string expected[] = {
        "\"SKIN\"/\"B\"/7", "\"SKIN\"/\"B\"/1033", "\"SKIN\"/\"a\"/1033", "\"b\"/5/1033", "3/1/1033",
        "3/2/1033",         "14/102/1033"};
    const skinpack::ResourceSection section(resources);
    ASSERT_EQ(section.resources().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i)
    {
        const Resource &r = section.resources()[i];
        EXPECT_EQ(describe(r.type) + "/" + describe(r.name) + "/" + std::to_string(r.language), expected[i])
            << "position " << i;
    }
    // Duplicates are refused.
    resources.push_back(resources[0]);
    EXPECT_THROW(skinpack::ResourceSection{resources}, std::invalid_argument);
}

TEST(ResourceSectionBuilder, LeftOutDataIsTheOnlyDifference)
{
    // A section written with one blob left out, with that blob put back at
    // its offset, is the section written whole; for each of the blobs.
    const auto blobA = patternBytes(13, 1), blobB = patternBytes(4097, 2), blobC = patternBytes(6, 3);
    const std::vector<std::uint8_t> *blobs[] = {&blobA, &blobB, &blobC};
    std::vector<Resource> resources(3);
    const ResourceId names[] = {ResourceId::fromName(u"A"), ResourceId::fromName(u"B"), ResourceId::fromId(7)};
    for (std::size_t i = 0; i < 3; ++i)
    {
        resources[i].type = kSkinType;
        resources[i].name = names[i];
        resources[i].language = 1033;
        resources[i].data = blobs[i]->data();
        resources[i].size = blobs[i]->size();
    }
    const std::uint32_t rva = 0x5000;
    const auto whole = skinpack::buildResourceSection(resources, rva);
    for (std::size_t left = 0; left < 3; ++left)
    {
        auto partial = resources;
        partial[left].data = nullptr;
        const skinpack::ResourceSection section(partial);
        EXPECT_EQ(section.leftOutSize(), blobs[left]->size());
        std::vector<std::uint8_t> out(section.size() - section.leftOutSize(), 0xcc);
        section.write(rva, out.data());
        const std::size_t at = section.blobOffset(kSkinType, names[left], 1033);
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), blobs[left]->begin(), blobs[left]->end());
        EXPECT_TRUE(out == whole) << "blob " << left << " left out";
    }
}

} // namespace

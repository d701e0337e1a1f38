#include "test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace skinpack_test {

std::vector<std::uint8_t> readBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string dataPath(const std::string &name)
{
    return std::string(SKINPACK_TEST_DATA) + "/" + name;
}

std::vector<std::uint8_t> stubBytes()
{
    return readBytes(dataPath("stub_bare.exe"));
}
std::vector<std::uint8_t> winterSkin()
{
    return readBytes(dataPath("Winter.ovs"));
}
std::vector<std::uint8_t> windresWinter()
{
    return readBytes(dataPath("windres_winter.exe"));
}

std::vector<std::uint8_t> patternBytes(std::size_t size, unsigned seed)
{
    std::vector<std::uint8_t> out(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::uint8_t &b : out)
    {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return out;
}

std::uint32_t referenceChecksum(std::vector<std::uint8_t> file, std::size_t checksumOffset)
{
    const std::size_t originalSize = file.size();
    for (std::size_t i = 0; i < 4; ++i)
        file[checksumOffset + i] = 0;
    if (file.size() % 2 != 0)
        file.push_back(0);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < file.size(); i += 2)
    {
        sum += static_cast<std::uint32_t>(file[i] | (file[i + 1] << 8));
        if (sum > 0xffff)
            sum = (sum & 0xffff) + (sum >> 16);
    }
    sum = (sum & 0xffff) + (sum >> 16);
    return (sum & 0xffff) + static_cast<std::uint32_t>(originalSize);
}

std::string freshFolder(const std::string &tag)
{
    std::random_device seed;
    const fs::path folder = fs::temp_directory_path() / ("skinpack-test-" + tag + "-" + std::to_string(seed()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder.string();
}

std::vector<std::string> folderEntries(const std::string &folder)
{
    std::vector<std::string> out;
    for (const auto &entry : fs::directory_iterator(folder))
        out.push_back(entry.path().filename().string());
    return out;
}

std::string toAscii(const std::u16string &s)
{
    std::string out;
    for (char16_t c : s)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::string testName(std::size_t index, const std::string &label)
{
    std::string out = std::to_string(index) + "_";
    for (char c : label)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            out += c;
    return out;
}

const skinpack::Resource *findResource(const std::vector<skinpack::Resource> &list, const skinpack::ResourceId &type,
                                       const skinpack::ResourceId &name)
{
    for (const skinpack::Resource &r : list)
        if (r.type == type && r.name == name)
            return &r;
    return nullptr;
}

} // namespace skinpack_test

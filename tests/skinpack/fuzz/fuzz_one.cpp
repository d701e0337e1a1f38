#include "fuzz_one.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pack.h"
#include "pe_image.h"

namespace skinpack_fuzz {

namespace {

[[noreturn]] void fail(const char *what)
{
    (void)std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

} // namespace

bool fuzzOne(const std::uint8_t *data, std::size_t size)
{
    // The reader on its own must never fail other than with FormatError.
    try
    {
        const skinpack::PeImage image = skinpack::PeImage::parse(data, size);
        (void)image.resources();
    }
    catch (const skinpack::FormatError &)
    {
    }

    static const std::uint8_t skin[] = {'O', 'V', 'S', 0, 1, 2, 3, 4, 5, 6, 7};
    std::vector<std::uint8_t> out;
    try
    {
        out = skinpack::packInstaller(data, size, "Fuzz.ovs", skin, sizeof skin);
    }
    catch (const skinpack::PackError &)
    {
        return false;
    }

    // An accepted stub must give an image that reads back with the skin in it.
    try
    {
        const skinpack::PeImage image = skinpack::PeImage::parse(out.data(), out.size());
        if (image.checksum != skinpack::peChecksum(out.data(), out.size(), image.offsets.checksum))
            fail("checksum");
        int skins = 0;
        for (const skinpack::Resource &r : image.resources())
        {
            if (r.type.isName && r.type.name == u"SKIN")
            {
                ++skins;
                if (r.name.name != u"FUZZ.OVS" || r.language != 1033 || r.size != sizeof skin ||
                    std::memcmp(r.data, skin, sizeof skin) != 0)
                    fail("skin resource");
            }
        }
        if (skins != 1)
            fail("number of skin resources");
    }
    catch (const skinpack::FormatError &e)
    {
        (void)std::fprintf(stderr, "%s\n", e.what());
        fail("output does not read back");
    }
    return true;
}

} // namespace skinpack_fuzz

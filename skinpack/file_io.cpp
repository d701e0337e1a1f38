#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace skinpack {

bool readFile(const std::string &path, std::uint64_t maxSize, std::vector<std::uint8_t> &out, std::string &problem)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status))
    {
        problem = "no such file";
        return false;
    }
    if (!fs::is_regular_file(status))
    {
        problem = "not a regular file";
        return false;
    }
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec)
    {
        problem = "cannot read its size: " + ec.message();
        return false;
    }
    if (size > maxSize)
    {
        problem = "the file is " + std::to_string(size) + " bytes; the limit is " + std::to_string(maxSize) + " bytes";
        return false;
    }
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
    {
        problem = std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    out.assign(static_cast<std::size_t>(size), 0);
    const std::size_t got = out.empty() ? 0 : std::fread(out.data(), 1, out.size(), f);
    const bool failed = std::ferror(f) != 0;
    const int extra = std::fgetc(f);
    (void)std::fclose(f); // read only: nothing to lose
    if (failed || got != out.size() || extra != EOF)
    {
        problem = "cannot read it (it changed or could not be read)";
        return false;
    }
    return true;
}

bool writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &data, std::string &problem)
{
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::random_device seed;
    std::mt19937_64 random(seed());
    std::FILE *f = nullptr;
    fs::path temp;
    for (int attempt = 0; attempt < 100 && f == nullptr; ++attempt)
    {
        char suffix[32];
        (void)std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
        temp = folder / (".skinpack-" + std::string(suffix) + ".tmp");
        f = std::fopen(temp.string().c_str(), "wbx"); // "x": fails when it exists
        if (f == nullptr && errno != EEXIST)
        {
            problem = "cannot create a file in " + folder.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    if (f == nullptr)
    {
        problem = "cannot create a temporary file in " + folder.string();
        return false;
    }
    bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok)
    {
        fs::permissions(temp,
                        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec,
                        ec);
        fs::rename(temp, target, ec);
        if (!ec)
            return true;
        problem = "cannot rename the temporary file into place: " + ec.message();
    }
    else
    {
        problem = "cannot write " + temp.string();
    }
    fs::remove(temp, ec);
    return false;
}

} // namespace skinpack

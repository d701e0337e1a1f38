#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace skinpack {

InputFile::~InputFile()
{
    if (file_ != nullptr)
        (void)std::fclose(file_); // read only: nothing to lose
}

bool InputFile::open(const std::string &path, std::uint64_t maxSize, std::string &problem)
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
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr)
    {
        problem = std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    // Reads go straight into the caller's buffer.
    (void)std::setvbuf(file_, nullptr, _IONBF, 0);
    size_ = size;
    return true;
}

std::size_t InputFile::read(std::uint8_t *buffer, std::size_t capacity)
{
    if (file_ == nullptr || capacity == 0)
        return 0;
    const std::size_t got = std::fread(buffer, 1, capacity, file_);
    if (std::ferror(file_) != 0)
        failed_ = true;
    read_ += got;
    return got;
}

bool InputFile::readWhole()
{
    return file_ != nullptr && !failed_ && read_ == size_ && std::fgetc(file_) == EOF && std::ferror(file_) == 0;
}

bool readFile(const std::string &path, std::uint64_t maxSize, std::vector<std::uint8_t> &out, std::string &problem)
{
    InputFile in;
    if (!in.open(path, maxSize, problem))
        return false;
    out.assign(static_cast<std::size_t>(in.size()), 0);
    std::size_t got = 0;
    while (got < out.size())
    {
        const std::size_t n = in.read(out.data() + got, out.size() - got);
        if (n == 0)
            break;
        got += n;
    }
    if (!in.readWhole())
    {
        problem = "cannot read it (it changed or could not be read)";
        return false;
    }
    return true;
}

bool OutputFile::write(const std::uint8_t *data, std::size_t size)
{
    return size == 0 || std::fwrite(data, 1, size, file_) == size;
}

bool OutputFile::writeAt(std::uint64_t offset, const std::uint8_t *data, std::size_t size)
{
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<long>::max()))
        return false;
    return std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0 && write(data, size) &&
           std::fseek(file_, 0, SEEK_END) == 0;
}

namespace {

// Opens a file for writing that must not exist yet (another process may pick
// the same temporary name). Windows' C runtime knows no "x" in fopen's mode.
std::FILE *createNewFile(const std::string &path)
{
#ifdef _WIN32
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    std::FILE *f = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (fd >= 0 && f == nullptr)
        (void)_close(fd);
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    std::FILE *f = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (fd >= 0 && f == nullptr)
        (void)::close(fd);
#endif
    return f;
}

} // namespace

bool writeFileAtomically(const std::string &path,
                         const std::function<bool(OutputFile &out, std::string &problem)> &produce,
                         std::string &problem)
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
        f = createNewFile(temp.string());
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
    OutputFile out(f);
    std::string produceProblem;
    const bool produced = produce(out, produceProblem);
    bool ok = produced;
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
        problem = produced || produceProblem.empty() ? "cannot write " + temp.string() : produceProblem;
    }
    fs::remove(temp, ec);
    return false;
}

bool writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &data, std::string &problem)
{
    return writeFileAtomically(
        path, [&data](OutputFile &out, std::string &) { return out.write(data.data(), data.size()); }, problem);
}

} // namespace skinpack

// Reading inputs and writing outputs atomically.
#ifndef SKINPACK_FILE_IO_H
#define SKINPACK_FILE_IO_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace skinpack {

// A regular file of at most a given size, read from start to end.
class InputFile
{
  public:
    InputFile() = default;
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;
    ~InputFile();

    // On failure returns false and sets `problem` (a file larger than
    // `maxSize` is not read at all).
    bool open(const std::string &path, std::uint64_t maxSize, std::string &problem);
    std::uint64_t size() const
    {
        return size_;
    }
    // Reads the next bytes, `capacity` at most; returns how many were read,
    // 0 at the end of the file or on a read error.
    std::size_t read(std::uint8_t *buffer, std::size_t capacity);
    // True when every byte was read, no read failed, and the file did not
    // grow or shrink since it was opened.
    bool readWhole();

  private:
    std::FILE *file_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t read_ = 0;
    bool failed_ = false;
};

// Reads a whole regular file of at most `maxSize` bytes.
bool readFile(const std::string &path, std::uint64_t maxSize, std::vector<std::uint8_t> &out, std::string &problem);

// The file being written by writeFileAtomically.
class OutputFile
{
  public:
    explicit OutputFile(std::FILE *file) : file_(file)
    {
    }
    // Appends bytes. Returns false when they could not all be written.
    bool write(const std::uint8_t *data, std::size_t size);
    // Overwrites bytes already written at `offset`; appending goes on at the
    // end afterwards.
    bool writeAt(std::uint64_t offset, const std::uint8_t *data, std::size_t size);

  private:
    std::FILE *file_;
};

// Writes what `produce` writes to `path` through a temporary file in the same
// folder, then renames it into place: no partial file is ever left at `path`,
// and the temporary file is removed on any failure, including `produce`
// returning false (with `problem` set). The result is executable.
bool writeFileAtomically(const std::string &path,
                         const std::function<bool(OutputFile &out, std::string &problem)> &produce,
                         std::string &problem);
bool writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &data, std::string &problem);

} // namespace skinpack

#endif

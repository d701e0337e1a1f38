// skinpack: writes "setup [<skin file name>].exe" for each skin file, from a
// prebuilt installer stub with the skin added as a resource.
//
// Exit status: 0 when every installer was written, 1 when an input was bad
// (one line on stderr per bad input, naming the file), 2 for usage errors.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "embedded_stub.h"
#include "file_io.h"
#include "pack.h"
#include "pe_image.h"

#ifndef SKINPACK_VERSION
#define SKINPACK_VERSION "0.0.0"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;

// Largest stub read: far more than any installer stub needs.
constexpr std::uint64_t kMaxStubSize = std::uint64_t{64} << 20;

// The skin is copied in pieces of this size: small enough to stay in the
// processor's cache between reading, summing and writing a piece.
constexpr std::size_t kCopyBufferSize = std::size_t{256} << 10;

const char kUsage[] = "usage: skinpack [-o DIR] [--stub FILE] SKIN...\n"
                      "\n"
                      "Writes \"setup [<skin file name>].exe\" for each SKIN file: the Orvanta skin\n"
                      "installer carrying that skin.\n"
                      "\n"
                      "  -o DIR       write the installers into DIR (default: the current folder)\n"
                      "  --stub FILE  use FILE as the installer stub instead of the built-in one\n"
                      "  --help       show this help\n"
                      "  --version    show the version\n"
                      "\n"
                      "Exit status: 0 all written; 1 a bad input (one line on stderr each); 2 usage error.\n";

int usageError(const std::string &message)
{
    (void)std::fprintf(stderr, "skinpack: %s\n%s", message.c_str(), "Try 'skinpack --help'.\n");
    return kExitUsage;
}

// The file name as shown in a message: control bytes as \xNN, so that each
// message stays on one line.
std::string shown(const std::string &file)
{
    std::string out;
    for (char c : file)
    {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
        {
            char escaped[8];
            (void)std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
            out += escaped;
        }
        else
        {
            out += c;
        }
    }
    return out;
}

void badInput(const std::string &file, const std::string &problem)
{
    (void)std::fprintf(stderr, "skinpack: %s: %s\n", shown(file).c_str(), problem.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    std::string outputDir = ".";
    std::string stubPath;
    std::vector<std::string> skins;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (!optionsDone && (arg == "--help" || arg == "-h"))
        {
            (void)std::fputs(kUsage, stdout);
            return 0;
        }
        if (!optionsDone && arg == "--version")
        {
            std::printf("skinpack %s\n", SKINPACK_VERSION);
            return 0;
        }
        if (!optionsDone && (arg == "-o" || arg == "--stub"))
        {
            if (i + 1 >= argc)
                return usageError("option " + arg + " needs an argument");
            (arg == "-o" ? outputDir : stubPath) = argv[++i];
            if ((arg == "-o" ? outputDir : stubPath).empty())
                return usageError("option " + arg + " needs a non-empty argument");
            continue;
        }
        if (!optionsDone && arg == "--")
        {
            optionsDone = true;
            continue;
        }
        if (!optionsDone && arg.size() > 1 && arg[0] == '-')
            return usageError("unknown option " + arg);
        skins.push_back(arg);
    }
    if (skins.empty())
        return usageError("no skin file given");

    std::vector<std::uint8_t> stubBytes;
    const std::uint8_t *stub = skinpack::kEmbeddedStub;
    std::size_t stubSize = skinpack::kEmbeddedStubSize;
    std::string stubName = "built-in stub";
    if (!stubPath.empty())
    {
        std::string problem;
        if (!skinpack::readFile(stubPath, kMaxStubSize, stubBytes, problem))
        {
            badInput(stubPath, problem);
            return kExitBadInput;
        }
        stub = stubBytes.data();
        stubSize = stubBytes.size();
        stubName = stubPath;
    }
    else if (stubSize == 0)
    {
        return usageError("this build has no built-in stub: pass --stub FILE");
    }
    try
    {
        skinpack::checkStub(stub, stubSize);
    }
    catch (const skinpack::PackError &e)
    {
        badInput(stubName, e.what());
        return kExitBadInput;
    }

    std::error_code ec;
    if (!fs::is_directory(outputDir, ec))
    {
        badInput(outputDir, "not a folder");
        return kExitBadInput;
    }

    // One buffer, reused: the skin goes from its file to the installer in
    // pieces, never whole in memory.
    std::vector<std::uint8_t> buffer(kCopyBufferSize);
    int status = 0;
    for (const std::string &skinPath : skins)
    {
        const std::string name = fs::path(skinPath).filename().string();
        std::string problem = skinpack::skinNameProblem(name);
        skinpack::InputFile skin;
        if (problem.empty())
            skin.open(skinPath, skinpack::kMaxSkinSize, problem);
        if (problem.empty())
            problem = skinpack::skinSizeProblem(skin.size());
        if (!problem.empty())
        {
            badInput(skinPath, problem);
            status = kExitBadInput;
            continue;
        }
        skinpack::InstallerFrame frame;
        try
        {
            frame = skinpack::frameInstaller(stub, stubSize, name, skin.size());
        }
        catch (const skinpack::PackError &e)
        {
            const bool stubAtFault = e.culprit() == skinpack::PackError::Culprit::Stub;
            badInput(stubAtFault ? stubName : skinPath, e.what());
            status = kExitBadInput;
            continue;
        }
        bool skinUnreadable = false;
        const auto writeInstaller = [&](skinpack::OutputFile &out, std::string &) {
            skinpack::ChecksumSum checksum;
            checksum.add(frame.head.data(), frame.head.size());
            if (!out.write(frame.head.data(), frame.head.size()))
                return false;
            for (std::size_t n; (n = skin.read(buffer.data(), buffer.size())) != 0;)
            {
                checksum.add(buffer.data(), n);
                if (!out.write(buffer.data(), n))
                    return false;
            }
            if (!skin.readWhole())
            {
                skinUnreadable = true;
                return false;
            }
            checksum.add(frame.tail.data(), frame.tail.size());
            std::uint8_t sum[4];
            skinpack::store32(sum, checksum.finish());
            return out.write(frame.tail.data(), frame.tail.size()) &&
                   out.writeAt(frame.checksumOffset, sum, sizeof sum);
        };
        const fs::path target = fs::path(outputDir) / skinpack::installerFileName(name);
        if (!skinpack::writeFileAtomically(target.string(), writeInstaller, problem))
        {
            if (skinUnreadable)
                badInput(skinPath, "cannot read it (it changed or could not be read)");
            else
                badInput(target.string(), problem);
            status = kExitBadInput;
        }
    }
    return status;
}

// Fuzz target: the skin name and the target path against a plain model. The
// input's first byte splits it: the rest up to that length is a module path,
// and the remainder is an install directory.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "skin_name.h"
#include "../skin_name_model.h"

namespace {

const char guard = 'G';

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    size_t pathLength = data[0] % MAX_PATH + 1;
    if (pathLength > size - 1)
        pathLength = size - 1;
    if (pathLength == 0)
        return 0;

    // The path lives in a buffer of exactly its length, so that reading past
    // it is caught by AddressSanitizer.
    std::string pathBytes(reinterpret_cast<const char *>(data + 1), pathLength);
    char *path = new char[pathLength];
    memcpy(path, pathBytes.data(), pathLength);

    char skinName[MAX_PATH + 1];
    memset(skinName, 0, MAX_PATH);
    skinName[MAX_PATH] = guard;
    std::string expected;
    const bool hasName = ModelSkinName(pathBytes, expected);
    const int found = ParseSkinName(path, static_cast<unsigned long>(pathLength), skinName);
    delete[] path;

    Require((found != 0) == hasName);
    Require(skinName[MAX_PATH] == guard);
    Require(memchr(skinName, '\0', MAX_PATH) != nullptr);
    // The name is the bytes between the brackets, zero bytes included.
    if (hasName)
        Require(memcmp(skinName, expected.data(), expected.size()) == 0 && skinName[expected.size()] == '\0');
    else
        Require(skinName[0] == '\0');
    if (!hasName || expected.find('\0') != std::string::npos)
        return 0;

    // The remainder, up to its first zero byte, is an install directory.
    const std::string installDir(reinterpret_cast<const char *>(data + 1 + pathLength),
                                 strnlen(reinterpret_cast<const char *>(data + 1 + pathLength), size - 1 - pathLength));
    char target[MAX_PATH + 1];
    memset(target, 'x', MAX_PATH);
    target[MAX_PATH] = guard;
    const std::string composed = installDir + "\\ov-skins\\" + skinName;
    const int fits = ComposeTargetPath(installDir.c_str(), skinName, target);
    Require(target[MAX_PATH] == guard);
    Require((fits != 0) == (composed.size() < MAX_PATH));
    Require(fits ? composed == target : target[0] == '\0');
    (void)IsSkinNameUnsafe(skinName);
    return 0;
}

// A plain model of the skin-name rule, for the property and fuzz tests.
#ifndef SKIN_NAME_MODEL_H
#define SKIN_NAME_MODEL_H

#include <string>

// The name between the last '[' and the last ']' of `path`; false when the
// last ']' does not come after the last '['.
inline bool ModelSkinName(const std::string &path, std::string &name)
{
    const size_t open = path.rfind('[');
    const size_t close = path.rfind(']');
    const size_t start = open == std::string::npos ? 0 : open + 1;
    const size_t end = close == std::string::npos ? 0 : close;
    if (end <= start)
        return false;
    name = path.substr(start, end - start);
    return true;
}

#endif

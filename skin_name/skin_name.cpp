#include "skin_name.h"

#include <string.h>

int ParseSkinName(const char *modulePath, unsigned long length, char *skinName)
{
    unsigned long start = 0;
    unsigned long end = 0;

    // Only the last '[' and the last ']' count, wherever they stand, so the
    // whole path is scanned.
    for (unsigned long i = 0; i < length; i++)
    {
        if (modulePath[i] == '[')
            start = i + 1;
        else if (modulePath[i] == ']')
            end = i;
    }
    if (end <= start)
        return 0;

    // end < length <= MAX_PATH, so the name and its terminator fit.
    memcpy(skinName, modulePath + start, end - start);
    skinName[end - start] = '\0';
    return 1;
}

int TerminateInstallDir(char *installDir, unsigned long size)
{
    if (size > 0 && size <= MAX_PATH && installDir[size - 1] == '\0')
        return 1;
    if (size >= MAX_PATH)
        return 0;
    installDir[size] = '\0';
    return 1;
}

int ComposeTargetPath(const char *installDir, const char *skinName, char *targetPath)
{
    static const char folder[] = "\\" SKINS_FOLDER "\\";
    const size_t dirLength = strlen(installDir);
    const size_t folderLength = sizeof(folder) - 1;
    const size_t nameLength = strlen(skinName);

    // Checked before anything is copied: the path and its terminator must
    // fit in MAX_PATH bytes.
    if (dirLength >= MAX_PATH || nameLength >= MAX_PATH || dirLength + folderLength + nameLength >= MAX_PATH)
    {
        targetPath[0] = '\0';
        return 0;
    }
    memcpy(targetPath, installDir, dirLength);
    memcpy(targetPath + dirLength, folder, folderLength);
    memcpy(targetPath + dirLength + folderLength, skinName, nameLength + 1);
    return 1;
}

static int IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// A component of dots and spaces with two dots or more is taken for "..":
// Windows trims trailing dots and spaces, so ".. " or "..." can reach the
// parent folder too.
static int IsParentComponent(const char *component, const char *end)
{
    int dots = 0;
    for (const char *p = component; p < end; p++)
    {
        if (*p == '.')
            dots++;
        else if (*p != ' ')
            return 0;
    }
    return dots >= 2;
}

int IsSkinNameUnsafe(const char *skinName)
{
    if (IsSeparator(skinName[0]))
        return 1;

    // Look at each component between separators, and anywhere for a colon
    // (a drive, or an alternate data stream of a file in the folder).
    const char *component = skinName;
    for (const char *p = skinName;; p++)
    {
        if (*p == ':')
            return 1;
        if (*p == '\0' || IsSeparator(*p))
        {
            if (IsParentComponent(component, p))
                return 1;
            if (*p == '\0')
                return 0;
            component = p + 1;
        }
    }
}

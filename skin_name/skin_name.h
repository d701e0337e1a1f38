// Skin name and target path: where the installer puts the skin it carries.
//
// Both operations work on plain byte strings of the ANSI code page and make no
// platform call, so they build and run anywhere.
#ifndef SKIN_NAME_H
#define SKIN_NAME_H

#include <stddef.h>

#ifndef MAX_PATH
#define MAX_PATH 260
#endif

// The folder below the host's install directory that holds its skins.
#define SKINS_FOLDER "ov-skins"

// Reads the skin name out of the first `length` bytes of the installer's own
// module path: the bytes between the last '[' and the last ']'. `skinName`
// must hold MAX_PATH bytes and be all zero; `length` is at most MAX_PATH.
// Returns nonzero when there is a name, 0 when there is none.
int ParseSkinName(const char *modulePath, unsigned long length, char *skinName);

// Makes the `size` bytes of a string value read into `installDir` (MAX_PATH
// bytes) a terminated string: a value stored with its terminator is used as it
// is, one stored without it is ended right after its bytes. Returns 0 when
// there is no room for the terminator.
int TerminateInstallDir(char *installDir, unsigned long size);

// Composes "<installDir>\ov-skins\<skinName>" into `targetPath` (MAX_PATH
// bytes). Returns nonzero on success; 0, with `targetPath` left empty, when
// the path with its terminator would not fit in MAX_PATH bytes.
int ComposeTargetPath(const char *installDir, const char *skinName, char *targetPath);

// Nonzero when the skin name would lead out of the skins folder: a ".."
// component, a drive colon, or a leading slash or backslash.
int IsSkinNameUnsafe(const char *skinName);

#endif

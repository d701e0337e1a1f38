// Payload extraction: the skin file travels inside the installer's own image
// as a resource of type "SKIN"; these routines write it to the target path.
#ifndef PAYLOAD_H
#define PAYLOAD_H

#include <windows.h>

// The resource type requested for payloads. Type names are matched without
// regard to case, so this finds payloads laid out as "SKIN".
#define SKIN_RESOURCE_TYPE "skin"

// The texts of the message box that reports a payload.
#define SKIN_INSTALLED_TEXT "skin file is successfully installed!"
#define SKIN_FAILED_TEXT "skin file is not installed, error of copying."

// Enumeration callback for EnumResourceNamesA: extracts payload `name` to the
// target path whose address is `param` and reports the outcome in a message
// box captioned with that path. Always goes on with the next name.
BOOL CALLBACK SkinResourceProc(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param);

// Enumeration callback for a target path that must not be written (the skin
// name would lead out of the skins folder): reports each payload as a failed
// copy, captioned with the target path, and writes nothing.
BOOL CALLBACK RefusedSkinResourceProc(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param);

// Nonzero when the folder of `targetPath` leaves room for the name of the
// temporary file that is written before the target is replaced.
BOOL HasRoomForTempFile(LPCSTR targetPath);

// Writes payload `name` of `module` to `targetPath`: into a temporary file
// beside the target first, which then replaces the target. Returns nonzero
// when every byte went out and the target was replaced (an empty payload
// installs an empty file); 0 when the copy failed, in which case the target
// keeps its former bytes, or stays absent, and no temporary file remains.
DWORD ExtractSkinResource(HMODULE module, LPCSTR name, LPCSTR targetPath);

#endif

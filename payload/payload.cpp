#include "payload.h"

BOOL CALLBACK SkinResourceProc(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param)
{
    (void)type;
    LPCSTR targetPath = (LPCSTR)param;

    DWORD installed = ExtractSkinResource(module, name, targetPath);
    MessageBoxA(NULL, installed ? SKIN_INSTALLED_TEXT : SKIN_FAILED_TEXT, targetPath, MB_OK);
    return TRUE;
}

BOOL CALLBACK RefusedSkinResourceProc(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param)
{
    (void)module;
    (void)type;
    (void)name;
    MessageBoxA(NULL, SKIN_FAILED_TEXT, (LPCSTR)param, MB_OK);
    return TRUE;
}

// The length of the folder part of `path`, up to its last backslash; -1 when
// it has none.
static int GetFolderLength(LPCSTR path)
{
    int folderLength = -1;
    for (int i = 0; path[i] != '\0'; i++)
    {
        if (path[i] == '\\')
            folderLength = i;
    }
    return folderLength;
}

BOOL HasRoomForTempFile(LPCSTR targetPath)
{
    // GetTempFileNameA needs room for a backslash, "ovsXXXX.tmp" and the
    // terminator after the folder.
    int folderLength = GetFolderLength(targetPath);
    return folderLength >= 0 && folderLength <= MAX_PATH - 14;
}

// Creates an empty temporary file in the folder of the target path, so that
// replacing the target later is a rename within one folder. Fills `tempPath`
// (MAX_PATH bytes) and returns nonzero on success.
static BOOL CreateTempFileBeside(LPCSTR targetPath, char *tempPath)
{
    char folder[MAX_PATH];

    if (!HasRoomForTempFile(targetPath))
        return FALSE;
    int folderLength = GetFolderLength(targetPath);

    lstrcpynA(folder, targetPath, folderLength + 1);
    return GetTempFileNameA(folder, "ovs", 0, tempPath) != 0;
}

// Writes the whole payload to `file` in one write, straight from the image.
// Returns nonzero when every byte went out.
static BOOL WritePayload(HMODULE module, LPCSTR name, HANDLE file)
{
    HRSRC resource = FindResourceA(module, name, SKIN_RESOURCE_TYPE);
    if (resource == NULL)
        return FALSE;

    HGLOBAL data = LoadResource(module, resource);
    if (data == NULL)
        return FALSE;

    BOOL complete = FALSE;
    DWORD size = SizeofResource(module, resource);
    const void *bytes = LockResource(data);
    if (bytes != NULL)
    {
        DWORD count = 0;
        complete = WriteFile(file, bytes, size, &count, NULL) && count == size;
    }
    GlobalUnlock(data);
    FreeResource(data);
    return complete;
}

DWORD ExtractSkinResource(HMODULE module, LPCSTR name, LPCSTR targetPath)
{
    char tempPath[MAX_PATH];

    // The target is never opened for writing: a failed copy must not cost the
    // skin file that was there before.
    if (!CreateTempFileBeside(targetPath, tempPath))
        return 0;

    HANDLE file = CreateFileA(tempPath, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
    {
        DeleteFileA(tempPath);
        return 0;
    }
    BOOL written = WritePayload(module, name, file) && FlushFileBuffers(file);
    CloseHandle(file);

    if (written && MoveFileExA(tempPath, targetPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 1;

    DeleteFileA(tempPath);
    return 0;
}

// The skin installer: one run from its own file name to the skin in the
// host's skins folder. It opens no window of its own and speaks to the user
// only through message boxes; every path ends with exit code 0.
#include <windows.h>
#include <shellapi.h>

#include "payload.h"
#include "skin_name.h"

#ifndef ORVANTA_WEB_PAGE
#error "ORVANTA_WEB_PAGE must name the host's web page"
#endif

// The host's top-level window and the menu command that asks it to let go of
// its skins before one is written.
#define HOST_WINDOW_TITLE "Orvanta"
#define HOST_COMMAND 1000

// How long the host window may take to handle the command. A host that has
// not answered by then is left alone and the installation goes on.
#define HOST_COMMAND_TIMEOUT_MS 5000

// The pause between writing the skin and starting the host again.
#define HOST_RESTART_DELAY_MS 1000

#define HOST_KEY "Software\\Orvanta"
#define HOST_VALUE "Install_Dir"
#define HOST_EXECUTABLE "Orvanta.exe"
#define INSTALLER_CAPTION "Skin Install"

// Finds a running host and sends it the command. Returns its window, or NULL
// when the host is not running.
static HWND CommandRunningHost(void)
{
    HWND host = FindWindowA(NULL, HOST_WINDOW_TITLE);
    if (host != NULL)
    {
        DWORD_PTR result;
        SendMessageTimeoutA(host, WM_COMMAND, HOST_COMMAND, 0, SMTO_ABORTIFHUNG, HOST_COMMAND_TIMEOUT_MS, &result);
    }
    return host;
}

// Reads the host's install directory from the registry into `installDir`
// (MAX_PATH bytes). Returns nonzero when it holds a terminated string.
static BOOL ReadInstallDir(char *installDir)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, HOST_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return FALSE;

    DWORD type = REG_NONE;
    DWORD size = MAX_PATH;
    LONG result = RegQueryValueExA(key, HOST_VALUE, NULL, &type, (LPBYTE)installDir, &size);
    RegCloseKey(key);

    // An expandable string is used as stored, without expanding it.
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return FALSE;
    return TerminateInstallDir(installDir, size);
}

static void ReportNotInstalled(void)
{
    MessageBoxA(NULL, "Error! Orvanta is not installed.", INSTALLER_CAPTION, MB_OK);
    ShellExecuteA(NULL, NULL, ORVANTA_WEB_PAGE, NULL, NULL, SW_SHOWNORMAL);
}

// Starts the host's executable from its install directory and lets it run.
static void StartHost(const char *installDir)
{
    // The executable's path is quoted, so that a directory with spaces can
    // never start another program, and the buffer holds the quotes, the
    // backslash and the file name beside the longest install directory.
    char commandLine[MAX_PATH + sizeof("\"\\" HOST_EXECUTABLE "\"")];
    wsprintfA(commandLine, "\"%s\\" HOST_EXECUTABLE "\"", installDir);

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);

    PROCESS_INFORMATION process;
    if (CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, installDir, &startup,
                       &process))
    {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

// Writes every payload of the image to the target path, each reported in a
// message box of its own.
static void InstallPayloads(HINSTANCE instance, const char *installDir, const char *skinName)
{
    char targetPath[MAX_PATH];
    ZeroMemory(targetPath, sizeof(targetPath));

    if (!ComposeTargetPath(installDir, skinName, targetPath) || !HasRoomForTempFile(targetPath))
    {
        MessageBoxA(NULL, SKIN_FAILED_TEXT, INSTALLER_CAPTION, MB_OK);
        return;
    }
    ENUMRESNAMEPROCA proc = IsSkinNameUnsafe(skinName) ? RefusedSkinResourceProc : SkinResourceProc;
    EnumResourceNamesA(instance, SKIN_RESOURCE_TYPE, proc, (LONG_PTR)targetPath);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)previous;
    (void)commandLine;
    (void)show;

    char modulePath[MAX_PATH];
    char skinName[MAX_PATH];
    char installDir[MAX_PATH];
    ZeroMemory(modulePath, sizeof(modulePath));
    ZeroMemory(skinName, sizeof(skinName));

    DWORD length = GetModuleFileNameA(instance, modulePath, MAX_PATH);
    if (length == 0)
        return 0;
    if (!ParseSkinName(modulePath, length, skinName))
        return 0;

    HWND host = CommandRunningHost();

    if (!ReadInstallDir(installDir))
    {
        ReportNotInstalled();
        return 0;
    }
    InstallPayloads(instance, installDir, skinName);

    if (host != NULL)
    {
        Sleep(HOST_RESTART_DELAY_MS);
        StartHost(installDir);
    }
    return 0;
}

// A stand-in for the host application: a top-level window titled "Orvanta"
// that logs its start and every command 1000 it is sent.
//
// Log (appended to the file named by ORVANTA_HOST_LOG, else host.log beside
// the executable), one line per event:
//   start <tick> cwd=<working directory> cmdline=<command line>
//   command <id> <tick> skins=<name,...>   (what its ov-skins folder holds)
//
// ORVANTA_HOST_MODE chooses what it does with command 1000:
//   exit (default) closes the window and ends; stay keeps running;
//   hung never handles any message.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "harness.h"

static char logPath[MAX_PATH];
static char skinsFolder[MAX_PATH];
static int exitOnCommand = 1;

static void AppendLog(const char *line)
{
    HANDLE log = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
    if (log == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(log, line, (DWORD)strlen(line), &written, NULL);
    WriteFile(log, "\n", 1, &written, NULL);
    CloseHandle(log);
}

static LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
    {
        char skins[1024];
        char line[1200];
        ListFolder(skinsFolder, skins, sizeof(skins));
        snprintf(line, sizeof(line), "command %u %lu skins=%s", LOWORD(wParam), GetTickCount(), skins);
        AppendLog(line);
        if (LOWORD(wParam) == 1000 && exitOnCommand)
            DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY)
    {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    char folder[MAX_PATH];
    GetModuleFolder(folder);
    snprintf(skinsFolder, sizeof(skinsFolder), "%s\\ov-skins", folder);
    if (!GetEnvironmentVariableA("ORVANTA_HOST_LOG", logPath, sizeof(logPath)))
        snprintf(logPath, sizeof(logPath), "%s\\host.log", folder);

    char mode[16] = "exit";
    GetEnvironmentVariableA("ORVANTA_HOST_MODE", mode, sizeof(mode));
    exitOnCommand = strcmp(mode, "exit") == 0;

    char cwd[MAX_PATH];
    char line[2 * MAX_PATH + 100];
    GetCurrentDirectoryA(sizeof(cwd), cwd);
    snprintf(line, sizeof(line), "start %lu cwd=%s cmdline=%s", GetTickCount(), cwd, GetCommandLineA());
    AppendLog(line);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "OrvantaStandIn";
    if (!RegisterClassA(&windowClass))
        return 1;
    HWND window =
        CreateWindowA("OrvantaStandIn", "Orvanta", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL, NULL, instance, NULL);
    if (window == NULL)
        return 1;

    if (strcmp(mode, "hung") == 0)
    {
        // Never look at the message queue: senders wait in vain.
        Sleep(120000);
        return 0;
    }
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

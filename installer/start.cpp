// The process's entry point. The installer uses nothing of the C runtime's
// start-up work (argument vectors, static constructors, locale, thread-local
// storage), so its image carries none of it: this hands WinMain what the
// runtime would and ends the process with WinMain's result.
#include <windows.h>

// The command line after the program's own name, as WinMain receives it.
static LPSTR SkipProgramName(LPSTR commandLine)
{
    LPSTR p = commandLine;
    if (*p == '"')
    {
        p++;
        while (*p != '\0' && *p != '"')
            p++;
        if (*p == '"')
            p++;
    }
    else
    {
        while ((unsigned char)*p > ' ')
            p++;
    }
    while (*p != '\0' && (unsigned char)*p <= ' ')
        p++;
    return p;
}

extern "C" void WINAPI StartInstaller(void)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;

    int result = WinMain(GetModuleHandleA(NULL), NULL, SkipProgramName(GetCommandLineA()), show);
    ExitProcess((UINT)result);
}

// Placed where an unquoted command line would wrongly lead (C:\Program.exe):
// if it is ever started, it leaves trap.log beside itself.
#include <windows.h>

#include <stdio.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH - 10);
    while (length > 0 && path[length - 1] != '\\')
        length--;
    snprintf(path + length, MAX_PATH - length, "trap.log");
    FILE *log = fopen(path, "a");
    if (log != NULL)
    {
        fprintf(log, "trap started: %s\n", GetCommandLineA());
        fclose(log);
    }
    return 0;
}

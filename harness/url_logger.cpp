// Registered as the handler of https addresses: appends the address it is
// asked to open to urls.log beside the executable.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "harness.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    char folder[MAX_PATH];
    char logPath[MAX_PATH];
    GetModuleFolder(folder);
    snprintf(logPath, sizeof(logPath), "%s\\urls.log", folder);

    // The handler is registered as "<exe>" "%1": the tail is the quoted address.
    char url[1024];
    snprintf(url, sizeof(url), "%s", commandLine);
    size_t length = strlen(url);
    if (length >= 2 && url[0] == '"' && url[length - 1] == '"')
    {
        memmove(url, url + 1, length - 2);
        url[length - 2] = '\0';
    }
    FILE *log = fopen(logPath, "a");
    if (log == NULL)
        return 1;
    fprintf(log, "%s\n", url);
    fclose(log);
    return 0;
}

// A Windows GUI program that does nothing: the floor of starting a process.
// It is linked with the installer's own settings, so it starts where the
// installer starts, with no C runtime start-up code, and ends at once.
#include <windows.h>

extern "C" void WINAPI StartInstaller(void)
{
    ExitProcess(0);
}

// Holds the file named on its command line open for reading, sharing it for
// reading only, until it is ended: the way a program that reads a skin keeps
// others from replacing or deleting it.
#include <windows.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    Sleep(INFINITE);
    CloseHandle(file);
    return 0;
}

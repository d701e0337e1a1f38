// The harness of the end-to-end tests and the demo: checks in the manner of Wine's conformance
// tests, the message-box watcher, processes, files and the host's registry
// entry.
#ifndef HARNESS_H
#define HARNESS_H

#include <windows.h>

#include <stddef.h>

#define dimof(array) (sizeof(array) / sizeof((array)[0]) + 0 * sizeof(&(array)[0] - (array)))

// ok(condition, format, ...): counts a check; prints the message on failure.
void Check(int condition, const char *file, int line, const char *format, ...) __attribute__((format(printf, 4, 5)));
#define ok(condition, ...) Check((condition) ? 1 : 0, __FILE__, __LINE__, __VA_ARGS__)
void SetTestContext(const char *context);
int CountFailures(void);
int CountChecks(void);

// The folder of this process's executable, without a trailing backslash.
void GetModuleFolder(char *folder);

// ---- Files ----

struct FileState
{
    int exists;
    DWORD size;
    unsigned long long hash; // FNV-1a of the bytes
};

unsigned long long HashBytes(const void *bytes, size_t size);
FileState ReadFileState(const char *path);
int WriteWholeFile(const char *path, const void *bytes, DWORD size);
int CreateFolders(const char *path); // like mkdir -p
void RemoveTree(const char *path);   // deletes a folder and everything below it
// "name,name" of the entries of a folder, sorted without regard to case.
void ListFolder(const char *folder, char *list, size_t size);

// ---- The message-box watcher ----

struct BoxRecord
{
    char caption[2 * MAX_PATH];
    char text[512];
    int hasIcon;
    DWORD shownTick;     // when it was found visible
    DWORD dismissedTick; // when OK was pressed
    FileState target;    // the watched file at that moment
    char folder[1024];   // what the watched folder held at that moment
};

struct InstallerRun
{
    int started;
    int timedOut;
    DWORD exitCode;
    DWORD startTick;
    DWORD exitTick;
    int boxCount;
    BoxRecord boxes[8];
};

// Starts `installer` with `workingDir` (NULL: its own folder), presses OK on
// every message box it shows, recording each box and the state of
// `watchedFile` and `watchedFolder` (either may be NULL) at that moment, and
// waits for it to end, `timeoutMs` at most (then it is ended and timedOut set).
void RunInstaller(const char *installer, const char *workingDir, const char *watchedFile, const char *watchedFolder,
                  DWORD timeoutMs, InstallerRun *run);

// Prints what a run showed, one line per box, for a transcript.
void PrintRun(const InstallerRun *run);

// ---- The stand-in host ----

struct HostInstall
{
    char dir[MAX_PATH];        // the install directory
    char skins[MAX_PATH];      // its ov-skins folder
    char target[2 * MAX_PATH]; // where the skin is expected
    char log[MAX_PATH];        // the stand-in host's log
};

// What PrepareHostInstall lays out besides the install directory.
enum
{
    HOST_SKINS_FOLDER = 1, // the ov-skins folder
    HOST_EXECUTABLE = 2,   // the stand-in host's executable, from this program's folder
};

// Lays out `dir` with what `parts` asks for and records `dir` in the
// registry. Returns nonzero when all of it was done.
int PrepareHostInstall(HostInstall *host, const char *dir, unsigned parts, const char *skinName);

// Starts the stand-in host from `installDir` in `mode` ("exit", "stay",
// "hung") and waits for its window. Returns nonzero when it is up.
int StartHostStandIn(const char *installDir, const char *mode);
// Ends every process whose executable is named `imageName`.
void EndProcessesNamed(const char *imageName);
// Ends every stand-in host, started by a test or by an installer.
void EndHostStandIns(void);
// Counts the lines of `hostLog` that begin with `prefix` and copies the
// `index`th of them (from 0) into `line` when it is not NULL.
int FindLogLines(const char *logPath, const char *prefix, int index, char *line, size_t size);

// ---- The host's registry entry ----

void DeleteHostKey(void);
int SetInstallDirValue(DWORD type, const void *data, DWORD size);
int SetInstallDir(const char *installDir); // REG_SZ with its terminator
int CreateHostKeyWithoutValue(void);

#endif

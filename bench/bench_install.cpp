// Times skin installs on the real Windows API (under Wine here): each case is
// a program started as a new process, with a watcher that presses OK on its
// message box as soon as the box is visible, or the installer's own write
// sequence done inside this process. The cases run in rounds, one run of each
// case per round in the order given (A B C D, A B C D, ...), and before every
// run the skins folder is emptied, so that every run writes a new file.
//
// Usage: bench_install <rounds> <install dir> <case>...
//   a case is four arguments: <label> <kind> <program> <skin file>
//   kinds:
//     box    an installer that writes the skin and reports it in one message
//            box; <program> is the installer
//     copy   cmd /c copy of <skin file> to the target; <program> is "-"
//     plain  <program> started with no arguments, writing nothing; <skin
//            file> is "-"
//     write  in this process: a temporary file beside the target, one
//            WriteFile, MoveFileExA over the target; <program> is "-"
//     flush  the same with FlushFileBuffers before the move: the installer's
//            sequence
//
// The target is <install dir>\ov-skins\<file name of the skin file>. Round 0
// warms up and checks each written file byte for byte; it is printed but not
// meant to be counted. Rounds 1 to <rounds> are timed. One line per run:
//   run <label> <round> <total ms> <box ms> <flush ms> <peak working set> <peak pagefile>
// total: from CreateProcess to the end of the process (or of the write
// sequence); box: until the message box was found visible, 0 without one;
// flush: the FlushFileBuffers call of the flush case, 0 for the others.
// Peak sizes in bytes, read with GetProcessMemoryInfo on the installer's
// process while its box is up (after its write); 0 for cases without a box.
// Exit status 0 when every run did its job, 1 otherwise, 2 for usage errors.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "harness.h"

static const char installedText[] = "skin file is successfully installed!";

// How often the watcher looks for a message box while the process runs; its
// end is noticed at once.
static const DWORD pollMs = 2;
static const double runTimeoutMs = 180000.0;

enum CaseKind
{
    KIND_BOX,
    KIND_COPY,
    KIND_PLAIN,
    KIND_WRITE,
    KIND_FLUSH,
};

struct BenchCase
{
    const char *label;
    CaseKind kind;
    const char *program;
    const char *skinFile;
    char skinName[MAX_PATH];
    char target[2 * MAX_PATH];
    FileState expected;
    BYTE *bytes; // the skin file's bytes, for the cases that write in this process
};

struct RunResult
{
    double totalMs;
    double boxMs;
    double flushMs;
    int boxes;
    int timedOut;
    DWORD exitCode;
    SIZE_T peakWorkingSet;
    SIZE_T peakPagefile;
    char caption[2 * MAX_PATH];
    char text[512];
};

static LARGE_INTEGER frequency;
static char skinsFolder[MAX_PATH];

static double MillisecondsSince(LARGE_INTEGER start)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

static int ParseKind(const char *name, CaseKind *kind)
{
    static const struct
    {
        const char *name;
        CaseKind kind;
    } kinds[] = {
        {"box", KIND_BOX}, {"copy", KIND_COPY}, {"plain", KIND_PLAIN}, {"write", KIND_WRITE}, {"flush", KIND_FLUSH},
    };
    for (size_t i = 0; i < dimof(kinds); i++)
    {
        if (!strcmp(name, kinds[i].name))
        {
            *kind = kinds[i].kind;
            return 1;
        }
    }
    return 0;
}

// Reads the whole of `path` into a new buffer of `size` bytes. Returns NULL
// when it cannot.
static BYTE *ReadWholeFile(const char *path, DWORD size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    BYTE *bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    DWORD count = 0;
    BOOL done = bytes != NULL && ReadFile(file, bytes, size, &count, NULL) && count == size;
    CloseHandle(file);
    if (!done && bytes != NULL)
    {
        HeapFree(GetProcessHeap(), 0, bytes);
        bytes = NULL;
    }
    return bytes;
}

static int PrepareCase(BenchCase *benchCase, const char *installDir)
{
    if (!strcmp(benchCase->skinFile, "-"))
        return benchCase->kind == KIND_PLAIN;
    const char *name = strrchr(benchCase->skinFile, '\\');
    snprintf(benchCase->skinName, sizeof(benchCase->skinName), "%s", name ? name + 1 : benchCase->skinFile);
    snprintf(benchCase->target, sizeof(benchCase->target), "%s\\ov-skins\\%s", installDir, benchCase->skinName);
    benchCase->expected = ReadFileState(benchCase->skinFile);
    if (!benchCase->expected.exists)
    {
        printf("%s: cannot read the skin file %s\n", benchCase->label, benchCase->skinFile);
        return 0;
    }
    if (benchCase->kind == KIND_WRITE || benchCase->kind == KIND_FLUSH)
    {
        benchCase->bytes = ReadWholeFile(benchCase->skinFile, benchCase->expected.size);
        if (benchCase->bytes == NULL)
        {
            printf("%s: cannot load %lu bytes of %s\n", benchCase->label, benchCase->expected.size,
                   benchCase->skinFile);
            return 0;
        }
    }
    return 1;
}

// A visible message box of the process, other than `skip`, or NULL.
static HWND FindVisibleBox(DWORD processId, HWND skip)
{
    HWND window = NULL;
    while ((window = FindWindowExA(NULL, window, "#32770", NULL)) != NULL)
    {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && window != skip && IsWindowVisible(window))
            return window;
    }
    return NULL;
}

// Starts `commandLine`, presses OK on each message box it shows, and waits
// for it to end. Returns nonzero when it started.
static int RunProcess(char *commandLine, RunResult *result)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
    {
        printf("cannot start %s: error %lu\n", commandLine, GetLastError());
        return 0;
    }
    HWND lastBox = NULL;
    for (;;)
    {
        if (WaitForSingleObject(process.hProcess, pollMs) == WAIT_OBJECT_0)
            break;
        if (MillisecondsSince(start) > runTimeoutMs)
        {
            result->timedOut = 1;
            TerminateProcess(process.hProcess, 255);
            WaitForSingleObject(process.hProcess, 10000);
            break;
        }
        HWND box = FindVisibleBox(process.dwProcessId, lastBox);
        if (box == NULL)
            continue;
        if (result->boxes == 0)
        {
            result->boxMs = MillisecondsSince(start);
            // The skin has been written when the box shows: the process is
            // past its largest use of memory, and still there to be asked.
            PROCESS_MEMORY_COUNTERS counters;
            ZeroMemory(&counters, sizeof(counters));
            if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof(counters)))
            {
                result->peakWorkingSet = counters.PeakWorkingSetSize;
                result->peakPagefile = counters.PeakPagefileUsage;
            }
            GetWindowTextA(box, result->caption, sizeof(result->caption));
            GetDlgItemTextA(box, 0xFFFF, result->text, sizeof(result->text));
        }
        result->boxes++;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        lastBox = box;
    }
    result->totalMs = MillisecondsSince(start);
    if (!GetExitCodeProcess(process.hProcess, &result->exitCode))
        result->exitCode = 0xFFFFFFFF;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

// The installer's write sequence in this process: a temporary file beside the
// target, the whole skin in one write, optionally flushed, then moved over the
// target. Returns nonzero when every step succeeded.
static int WriteInProcess(const BenchCase *benchCase, int flush, RunResult *result)
{
    char tempPath[MAX_PATH];
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!GetTempFileNameA(skinsFolder, "ovs", 0, tempPath))
    {
        printf("%s: no temporary file in %s: error %lu\n", benchCase->label, skinsFolder, GetLastError());
        return 0;
    }
    HANDLE file = CreateFileA(tempPath, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
    {
        printf("%s: cannot open %s: error %lu\n", benchCase->label, tempPath, GetLastError());
        return 0;
    }
    DWORD count = 0;
    BOOL written =
        WriteFile(file, benchCase->bytes, benchCase->expected.size, &count, NULL) && count == benchCase->expected.size;
    if (written && flush)
    {
        LARGE_INTEGER flushStart;
        QueryPerformanceCounter(&flushStart);
        written = FlushFileBuffers(file);
        result->flushMs = MillisecondsSince(flushStart);
    }
    CloseHandle(file);
    if (written)
        written = MoveFileExA(tempPath, benchCase->target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    result->totalMs = MillisecondsSince(start);
    if (!written)
        printf("%s: writing %s failed: error %lu\n", benchCase->label, tempPath, GetLastError());
    return written;
}

// Checks what one run left behind and showed. Returns nonzero when it did its
// job.
static int CheckRun(const BenchCase *benchCase, const RunResult *result, int round)
{
    int failed = CountFailures();
    ok(!result->timedOut, "%s: still running after %.0f ms", benchCase->label, runTimeoutMs);
    ok(result->exitCode == 0, "%s: exit code %lu, expected 0", benchCase->label, result->exitCode);
    if (benchCase->kind == KIND_BOX)
    {
        ok(result->boxes == 1, "%s: %d message boxes, expected 1", benchCase->label, result->boxes);
        ok(!strcmp(result->caption, benchCase->target), "%s: caption \"%s\", expected \"%s\"", benchCase->label,
           result->caption, benchCase->target);
        ok(!strcmp(result->text, installedText), "%s: text \"%s\", expected \"%s\"", benchCase->label, result->text,
           installedText);
    }
    else
        ok(result->boxes == 0, "%s: %d message boxes, expected none", benchCase->label, result->boxes);

    char folder[1024];
    ListFolder(skinsFolder, folder, sizeof(folder));
    ok(!strcmp(folder, benchCase->skinName), "%s: the skins folder holds \"%s\", expected \"%s\"", benchCase->label,
       folder, benchCase->skinName);
    if (benchCase->kind != KIND_PLAIN)
    {
        // Reading the whole file back is slow under emulation: the warm-up
        // round checks every byte, the timed rounds the size.
        FileState got;
        if (round == 0)
            got = ReadFileState(benchCase->target);
        else
        {
            WIN32_FILE_ATTRIBUTE_DATA data;
            ZeroMemory(&data, sizeof(data));
            got = benchCase->expected;
            got.exists = GetFileAttributesExA(benchCase->target, GetFileExInfoStandard, &data);
            got.size = data.nFileSizeLow;
            if (!got.exists || data.nFileSizeHigh != 0)
                got.size = 0;
        }
        ok(got.exists && got.size == benchCase->expected.size && got.hash == benchCase->expected.hash,
           "%s: %s holds %lu bytes (hash %016llx, exists %d), expected %lu bytes (hash %016llx)", benchCase->label,
           benchCase->target, got.size, got.hash, got.exists, benchCase->expected.size, benchCase->expected.hash);
    }
    return CountFailures() == failed;
}

static int RunCase(const BenchCase *benchCase, int round)
{
    RemoveTree(skinsFolder);
    if (!CreateDirectoryA(skinsFolder, NULL))
    {
        printf("cannot create %s: error %lu\n", skinsFolder, GetLastError());
        return 0;
    }

    RunResult result;
    ZeroMemory(&result, sizeof(result));
    char commandLine[4 * MAX_PATH];
    char system[MAX_PATH];
    int done = 0;
    switch (benchCase->kind)
    {
    case KIND_BOX:
    case KIND_PLAIN:
        snprintf(commandLine, sizeof(commandLine), "\"%s\"", benchCase->program);
        done = RunProcess(commandLine, &result);
        break;
    case KIND_COPY:
        if (!GetSystemDirectoryA(system, sizeof(system)))
        {
            printf("no system folder: error %lu\n", GetLastError());
            return 0;
        }
        snprintf(commandLine, sizeof(commandLine), "\"%s\\cmd.exe\" /c copy /y \"%s\" \"%s\" >NUL", system,
                 benchCase->skinFile, benchCase->target);
        done = RunProcess(commandLine, &result);
        break;
    case KIND_WRITE:
    case KIND_FLUSH:
        done = WriteInProcess(benchCase, benchCase->kind == KIND_FLUSH, &result);
        break;
    }
    if (!done)
        return 0;
    printf("run %s %d %.3f %.3f %.3f %lu %lu\n", benchCase->label, round, result.totalMs, result.boxMs, result.flushMs,
           (unsigned long)result.peakWorkingSet, (unsigned long)result.peakPagefile);
    return CheckRun(benchCase, &result, round);
}

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 7 || (argc - 3) % 4 != 0)
    {
        printf("usage: bench_install ROUNDS INSTALL_DIR (LABEL KIND PROGRAM SKIN_FILE)...\n");
        return 2;
    }
    int rounds = atoi(argv[1]);
    const char *installDir = argv[2];
    int caseCount = (argc - 3) / 4;
    static BenchCase cases[32];
    if (rounds < 1 || caseCount > (int)dimof(cases))
    {
        printf("at least 1 round and at most %u cases\n", (unsigned)dimof(cases));
        return 2;
    }
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart == 0)
    {
        printf("no performance counter\n");
        return 1;
    }

    for (int i = 0; i < caseCount; i++)
    {
        BenchCase *benchCase = &cases[i];
        char **arg = argv + 3 + 4 * i;
        benchCase->label = arg[0];
        benchCase->program = arg[2];
        benchCase->skinFile = arg[3];
        if (!ParseKind(arg[1], &benchCase->kind))
        {
            printf("%s: unknown kind %s (box, copy, plain, write, flush)\n", arg[0], arg[1]);
            return 2;
        }
        if (!PrepareCase(benchCase, installDir))
            return 2;
    }

    // The host is installed, with its skins folder, and not running: the
    // installers do not wait for it.
    HostInstall host;
    if (!PrepareHostInstall(&host, installDir, HOST_SKINS_FOLDER, "-"))
        return 1;
    snprintf(skinsFolder, sizeof(skinsFolder), "%s", host.skins);
    if (FindWindowA(NULL, "Orvanta") != NULL)
    {
        printf("a window titled Orvanta is open: the installers would wait for it\n");
        return 1;
    }

    int failed = 0;
    for (int round = 0; round <= rounds; round++)
    {
        for (int i = 0; i < caseCount; i++)
        {
            if (!RunCase(&cases[i], round))
                failed = 1;
        }
    }
    RemoveTree(host.skins);
    printf("%d checks, %d failed\n", CountChecks(), CountFailures());
    return failed;
}

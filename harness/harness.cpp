#include "harness.h"

#include <tlhelp32.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int checks;
static int failures;
static char context[256];

void Check(int condition, const char *file, int line, const char *format, ...)
{
    checks++;
    if (condition)
        return;
    failures++;
    const char *base = strrchr(file, '/');
    printf("%s:%d: Test failed: %s%s", base ? base + 1 : file, line, context, context[0] ? ": " : "");
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
}

void SetTestContext(const char *text)
{
    snprintf(context, sizeof(context), "%s", text);
}

int CountFailures(void)
{
    return failures;
}

int CountChecks(void)
{
    return checks;
}

void GetModuleFolder(char *folder)
{
    DWORD length = GetModuleFileNameA(NULL, folder, MAX_PATH);
    while (length > 0 && folder[length - 1] != '\\')
        length--;
    folder[length > 0 ? length - 1 : 0] = '\0';
}

// ---- Files ----

unsigned long long HashBytes(const void *bytes, size_t size)
{
    unsigned long long hash = 14695981039346656037ull;
    const unsigned char *p = (const unsigned char *)bytes;
    for (size_t i = 0; i < size; i++)
        hash = (hash ^ p[i]) * 1099511628211ull;
    return hash;
}

FileState ReadFileState(const char *path)
{
    FileState state = {0, 0, HashBytes("", 0)};
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return state;
    state.exists = 1;
    unsigned long long hash = state.hash;
    static unsigned char buffer[65536];
    DWORD count;
    while (ReadFile(file, buffer, sizeof(buffer), &count, NULL) && count > 0)
    {
        for (DWORD i = 0; i < count; i++)
            hash = (hash ^ buffer[i]) * 1099511628211ull;
        state.size += count;
    }
    state.hash = hash;
    CloseHandle(file);
    return state;
}

int WriteWholeFile(const char *path, const void *bytes, DWORD size)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    BOOL done = WriteFile(file, bytes, size, &written, NULL) && written == size;
    CloseHandle(file);
    return done;
}

int CreateFolders(const char *path)
{
    char partial[MAX_PATH];
    snprintf(partial, sizeof(partial), "%s", path);
    for (char *p = partial + 3; *p; p++)
    {
        if (*p != '\\')
            continue;
        *p = '\0';
        CreateDirectoryA(partial, NULL);
        *p = '\\';
    }
    return CreateDirectoryA(partial, NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}

void RemoveTree(const char *path)
{
    char pattern[MAX_PATH + 4];
    snprintf(pattern, sizeof(pattern), "%s\\*", path);
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find != INVALID_HANDLE_VALUE)
    {
        do
        {
            if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, ".."))
                continue;
            char child[2 * MAX_PATH];
            snprintf(child, sizeof(child), "%s\\%s", path, found.cFileName);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
            {
                SetFileAttributesA(child, FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child);
            }
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(path);
}

static int CompareNames(const void *a, const void *b)
{
    return lstrcmpiA((const char *)a, (const char *)b);
}

void ListFolder(const char *folder, char *list, size_t size)
{
    static char names[64][MAX_PATH];
    int count = 0;
    char pattern[MAX_PATH + 4];
    snprintf(pattern, sizeof(pattern), "%s\\*", folder);
    list[0] = '\0';
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, "..") && count < (int)dimof(names))
            snprintf(names[count++], MAX_PATH, "%s", found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);

    qsort(names, (size_t)count, sizeof(names[0]), CompareNames);
    for (int i = 0; i < count; i++)
    {
        size_t used = strlen(list);
        snprintf(list + used, size - used, "%s%s", i ? "," : "", names[i]);
    }
}

// ---- The message-box watcher ----

struct BoxSearch
{
    DWORD processId;
    HWND box;
};

static BOOL CALLBACK FindBoxProc(HWND window, LPARAM param)
{
    BoxSearch *search = (BoxSearch *)param;
    DWORD processId = 0;
    char className[32];
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !IsWindowVisible(window))
        return TRUE;
    if (!GetClassNameA(window, className, sizeof(className)) || strcmp(className, "#32770") != 0)
        return TRUE;
    search->box = window;
    return FALSE;
}

static void RecordBox(HWND box, const char *watchedFile, const char *watchedFolder, BoxRecord *record)
{
    record->shownTick = GetTickCount();
    GetWindowTextA(box, record->caption, sizeof(record->caption));
    GetDlgItemTextA(box, 0xFFFF, record->text, sizeof(record->text));
    // Wine keeps the icon control visible even when there is no icon: ask it
    // for its image.
    record->hasIcon = SendDlgItemMessageA(box, 1088, STM_GETICON, 0, 0) != 0;
    if (watchedFile)
        record->target = ReadFileState(watchedFile);
    if (watchedFolder)
        ListFolder(watchedFolder, record->folder, sizeof(record->folder));
}

void RunInstaller(const char *installer, const char *workingDir, const char *watchedFile, const char *watchedFolder,
                  DWORD timeoutMs, InstallerRun *run)
{
    memset(run, 0, sizeof(*run));
    char commandLine[2 * MAX_PATH];
    snprintf(commandLine, sizeof(commandLine), "\"%s\"", installer);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    run->startTick = GetTickCount();
    if (!CreateProcessA(installer, commandLine, NULL, NULL, FALSE, 0, NULL, workingDir, &startup, &process))
    {
        printf("cannot start %s: error %lu\n", installer, GetLastError());
        return;
    }
    run->started = 1;

    HWND lastBox = NULL;
    for (;;)
    {
        if (WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - run->startTick > timeoutMs)
        {
            run->timedOut = 1;
            TerminateProcess(process.hProcess, 255);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
        BoxSearch search = {process.dwProcessId, NULL};
        EnumWindows(FindBoxProc, (LPARAM)&search);
        if (search.box == NULL || search.box == lastBox || run->boxCount >= (int)dimof(run->boxes))
            continue;

        // Give the box a moment to finish laying out its text once visible.
        Sleep(50);
        BoxRecord *record = &run->boxes[run->boxCount++];
        RecordBox(search.box, watchedFile, watchedFolder, record);
        record->dismissedTick = GetTickCount();
        PostMessageA(search.box, WM_COMMAND, IDOK, 0);
        for (int i = 0; i < 500 && IsWindow(search.box); i++)
            Sleep(10);
        lastBox = search.box;
    }
    run->exitTick = GetTickCount();
    GetExitCodeProcess(process.hProcess, &run->exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

void PrintRun(const InstallerRun *run)
{
    for (int i = 0; i < run->boxCount; i++)
    {
        const BoxRecord *box = &run->boxes[i];
        printf("message box %d: caption \"%s\", text \"%s\"%s\n", i + 1, box->caption, box->text,
               box->hasIcon ? ", with an icon" : "");
    }
    printf("installer ended with exit code %lu%s\n", run->exitCode, run->timedOut ? " (timed out)" : "");
}

// ---- The stand-in host ----

int PrepareHostInstall(HostInstall *host, const char *dir, unsigned parts, const char *skinName)
{
    char folder[MAX_PATH];
    char source[MAX_PATH];
    char executable[MAX_PATH];
    GetModuleFolder(folder);
    snprintf(host->dir, sizeof(host->dir), "%s", dir);
    snprintf(host->skins, sizeof(host->skins), "%s\\ov-skins", dir);
    snprintf(host->target, sizeof(host->target), "%s\\%s", host->skins, skinName);
    snprintf(host->log, sizeof(host->log), "%s\\host.log", dir);
    snprintf(source, sizeof(source), "%s\\Orvanta.exe", folder);
    snprintf(executable, sizeof(executable), "%s\\Orvanta.exe", dir);

    RemoveTree(dir);
    int done = 1;
    if (!CreateFolders(dir))
        done = 0, printf("cannot create %s: error %lu\n", dir, GetLastError());
    if ((parts & HOST_EXECUTABLE) && !CopyFileA(source, executable, FALSE))
        done = 0, printf("cannot copy the stand-in host to %s: error %lu\n", executable, GetLastError());
    if ((parts & HOST_SKINS_FOLDER) && !CreateDirectoryA(host->skins, NULL))
        done = 0, printf("cannot create %s: error %lu\n", host->skins, GetLastError());
    if (!SetInstallDir(dir))
        done = 0, printf("cannot record %s in the registry\n", dir);
    return done;
}

int StartHostStandIn(const char *installDir, const char *mode)
{
    char executable[MAX_PATH];
    char commandLine[MAX_PATH + 2];
    snprintf(executable, sizeof(executable), "%s\\Orvanta.exe", installDir);
    snprintf(commandLine, sizeof(commandLine), "\"%s\"", executable);
    SetEnvironmentVariableA("ORVANTA_HOST_MODE", mode);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(executable, commandLine, NULL, NULL, FALSE, 0, NULL, installDir, &startup, &process))
    {
        printf("cannot start the stand-in host %s: error %lu\n", executable, GetLastError());
        return 0;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 3000; i++)
    {
        if (FindWindowA(NULL, "Orvanta"))
            return 1;
        Sleep(10);
    }
    printf("the stand-in host showed no window in 30 s\n");
    return 0;
}

void EndProcessesNamed(const char *imageName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    {
        if (lstrcmpiA(entry.szExeFile, imageName) != 0)
            continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process == NULL)
            continue;
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

void EndHostStandIns(void)
{
    EndProcessesNamed("Orvanta.exe");
}

int FindLogLines(const char *logPath, const char *prefix, int index, char *line, size_t size)
{
    FILE *log = fopen(logPath, "r");
    if (log == NULL)
        return 0;
    char buffer[4096];
    int count = 0;
    while (fgets(buffer, sizeof(buffer), log))
    {
        if (strncmp(buffer, prefix, strlen(prefix)) != 0)
            continue;
        if (count == index && line != NULL)
        {
            buffer[strcspn(buffer, "\r\n")] = '\0';
            snprintf(line, size, "%s", buffer);
        }
        count++;
    }
    fclose(log);
    return count;
}

// ---- The host's registry entry ----

void DeleteHostKey(void)
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Orvanta");
}

static int CreateHostKey(HKEY *key)
{
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Orvanta", 0, NULL, 0, KEY_SET_VALUE, NULL, key, NULL) ==
           ERROR_SUCCESS;
}

int SetInstallDirValue(DWORD type, const void *data, DWORD size)
{
    HKEY key;
    DeleteHostKey();
    if (!CreateHostKey(&key))
        return 0;
    LONG result = RegSetValueExA(key, "Install_Dir", 0, type, (const BYTE *)data, size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

int SetInstallDir(const char *installDir)
{
    return SetInstallDirValue(REG_SZ, installDir, (DWORD)strlen(installDir) + 1);
}

int CreateHostKeyWithoutValue(void)
{
    HKEY key;
    DeleteHostKey();
    if (!CreateHostKey(&key))
        return 0;
    RegCloseKey(key);
    return 1;
}

// End-to-end tests of the skin installer on the real Windows API: each case
// builds its own stand-in host installation, runs a real installer, presses
// its message boxes and checks what the user and the host observe.
//
// Usage: installer_e2e <group> [<installers folder>]   (groups: see the table
// at the end; the installers are those the build made beside this program,
// unless another folder of them is named)
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "harness.h"

#ifndef ORVANTA_WEB_PAGE
#error "ORVANTA_WEB_PAGE must name the host's web page"
#endif

static const char installedText[] = "skin file is successfully installed!";
static const char failedText[] = "skin file is not installed, error of copying.";
static const char notInstalledText[] = "Error! Orvanta is not installed.";
static const char installerCaption[] = "Skin Install";

// How long one installer run may take before it counts as hung.
static const DWORD runTimeoutMs = 60000;

static char binFolder[MAX_PATH];  // this program's folder
static char installers[MAX_PATH]; // the scenario installers
// Set when the installers come from a folder of one-skin installers (those
// skinpack writes): cases that need an installer with two payloads are left
// out, and say so.
static int oneSkinInstallersOnly;
static char fixtures[MAX_PATH]; // the payloads they carry

// ---- Scenario files ----

static void InstallerPath(char *path, const char *skinFileName)
{
    snprintf(path, MAX_PATH, "%s\\setup [%s].exe", installers, skinFileName);
}

static FileState FixtureState(const char *name)
{
    char path[MAX_PATH];
    snprintf(path, sizeof(path), "%s\\%s", fixtures, name);
    FileState state = ReadFileState(path);
    ok(state.exists, "fixture %s is missing", path);
    return state;
}

static const BYTE oldSkin[] = "the skin that was installed before, with bytes \0\x1a\r\n that must survive";

static void CheckFile(const char *path, FileState expected, const char *what)
{
    FileState got = ReadFileState(path);
    ok(got.exists == expected.exists, "%s: %s should %s", path, what, expected.exists ? "exist" : "not exist");
    if (got.exists && expected.exists)
        ok(got.size == expected.size && got.hash == expected.hash,
           "%s: got %lu bytes (hash %016llx), expected %s: %lu bytes (hash %016llx)", path, got.size, got.hash, what,
           expected.size, expected.hash);
}

static FileState OldSkinState(void)
{
    FileState state = {1, sizeof(oldSkin), HashBytes(oldSkin, sizeof(oldSkin))};
    return state;
}

static const FileState absent = {0, 0, 0};

static void CheckBox(const InstallerRun *run, int index, const char *caption, const char *text)
{
    if (index >= run->boxCount)
    {
        ok(0, "message box %d: none shown, expected \"%s\" captioned \"%s\"", index + 1, text, caption);
        return;
    }
    const BoxRecord *box = &run->boxes[index];
    ok(!strcmp(box->caption, caption), "message box %d: caption \"%s\", expected \"%s\"", index + 1, box->caption,
       caption);
    ok(!strcmp(box->text, text), "message box %d: text \"%s\", expected \"%s\"", index + 1, box->text, text);
    ok(!box->hasIcon, "message box %d shows an icon, expected none (MB_OK)", index + 1);
}

static void CheckRunEnded(const InstallerRun *run, int boxes)
{
    ok(run->started, "the installer did not start");
    ok(!run->timedOut, "the installer was still running after %lu ms", runTimeoutMs);
    ok(run->exitCode == 0, "exit code %lu, expected 0", run->exitCode);
    ok(run->boxCount == boxes, "%d message boxes, expected %d", run->boxCount, boxes);
}

// Waits up to `ms` for the host log to hold `count` lines starting with `prefix`.
static int WaitForLogLines(const char *log, const char *prefix, int count, DWORD ms)
{
    DWORD start = GetTickCount();
    int found;
    while ((found = FindLogLines(log, prefix, 0, NULL, 0)) < count && GetTickCount() - start < ms)
        Sleep(50);
    return found;
}

static unsigned long TickOf(const char *line, const char *prefix)
{
    unsigned long tick = 0;
    sscanf(line + strlen(prefix), "%lu", &tick);
    return tick;
}

// The host that was running is started again: a second start in its log, from
// its install directory by its quoted path, 1000 ms or more after the last
// box was dismissed.
static void CheckHostRestarted(const HostInstall *host, const InstallerRun *run)
{
    char line[1024];
    int starts = WaitForLogLines(host->log, "start ", 2, 10000);
    ok(starts == 2, "host log: %d starts, expected 2 (the first and the restart)", starts);
    if (starts < 2)
        return;
    FindLogLines(host->log, "start ", 1, line, sizeof(line));
    char expected[2 * MAX_PATH];
    snprintf(expected, sizeof(expected), "cwd=%s cmdline=\"%s\\Orvanta.exe\"", host->dir, host->dir);
    ok(strstr(line, expected) != NULL, "host log: got \"%s\", expected \"%s\"", line, expected);
    if (run->boxCount > 0)
    {
        long delay = (long)(TickOf(line, "start ") - run->boxes[run->boxCount - 1].dismissedTick);
        ok(delay >= 1000, "the host restarted %ld ms after the last box was dismissed, expected 1000 or more", delay);
    }
}

static void FinishCase(void)
{
    EndHostStandIns();
    SetTestContext("");
}

// The normal install of the Winter skin: lays out a stand-in host in `dir`,
// starts it in `hostMode` (NULL: not running), runs the installer, and checks
// that it ended with one "installed" box and the payload at the target.
// Returns zero when the host could not be started (nothing was run).
static int InstallWinter(HostInstall *host, const char *dir, const char *hostMode, InstallerRun *run)
{
    char installer[MAX_PATH];
    ok(PrepareHostInstall(host, dir, HOST_SKINS_FOLDER | HOST_EXECUTABLE, "Winter.ovs"),
       "cannot lay out the stand-in host");
    InstallerPath(installer, "Winter.ovs");
    if (hostMode != NULL && !StartHostStandIn(host->dir, hostMode))
        return 0;

    RunInstaller(installer, NULL, host->target, host->skins, runTimeoutMs, run);
    CheckRunEnded(run, 1);
    CheckBox(run, 0, host->target, installedText);
    CheckFile(host->target, FixtureState("Winter.ovs"), "the payload");
    return 1;
}

// ---- The normal run and the host ----

// The host runs: it is sent command 1000 before any file appears, the skin is
// written and reported, and the host is started again 1000 ms or more after
// the box is dismissed, from its install directory, by its quoted path.
static void test_running_host(void)
{
    HostInstall host;
    InstallerRun run;
    char line[1024];
    SetTestContext("running host");
    if (!InstallWinter(&host, "C:\\orvanta-e2e\\running", "exit", &run))
        return FinishCase();
    FileState payload = FixtureState("Winter.ovs");
    if (run.boxCount > 0)
    {
        const FileState &atBox = run.boxes[0].target;
        ok(atBox.exists && atBox.size == payload.size && atBox.hash == payload.hash,
           "at the box the target held %lu bytes (hash %016llx), expected the payload's %lu (hash %016llx)", atBox.size,
           atBox.hash, payload.size, payload.hash);
    }

    ok(FindLogLines(host.log, "command ", 0, line, sizeof(line)) == 1, "host log: expected one command line");
    ok(!strncmp(line, "command 1000 ", 13), "host log: got \"%s\", expected command 1000", line);
    ok(strstr(line, "skins=") && !strcmp(strstr(line, "skins=") + 6, ""),
       "host log: at command 1000 the skins folder held \"%s\", expected nothing yet", strstr(line, "skins="));

    CheckHostRestarted(&host, &run);
    FinishCase();
}

// The host is installed but not running: the skin is written, no host is
// started, and the installer ends without the pause.
static void test_host_not_running(void)
{
    HostInstall host;
    InstallerRun run;
    SetTestContext("host not running");
    InstallWinter(&host, "C:\\orvanta-e2e\\idle", NULL, &run);
    if (run.boxCount > 0)
    {
        DWORD after = run.exitTick - run.boxes[0].dismissedTick;
        ok(after < 1000, "the installer ended %lu ms after the box, expected no 1000 ms pause", after);
    }
    Sleep(300);
    ok(FindLogLines(host.log, "start ", 0, NULL, 0) == 0, "a host was started, expected none");
    FinishCase();
}

// A host that never handles command 1000 holds the installer up for a bounded
// time only; the run goes on and the host is started again.
static void test_hung_host(void)
{
    HostInstall host;
    InstallerRun run;
    SetTestContext("hung host");
    if (!InstallWinter(&host, "C:\\orvanta-e2e\\hung", "hung", &run))
        return FinishCase();
    if (run.boxCount > 0)
    {
        DWORD wait = run.boxes[0].shownTick - run.startTick;
        ok(wait < 20000, "the box came %lu ms after the start, expected the command to give up after 5000 ms", wait);
    }
    CheckHostRestarted(&host, &run);
    FinishCase();
}

// An installer whose file name holds no skin name ends at once and silently:
// no box, no command to the host, no web page.
static void test_no_skin_name(void)
{
    static const char *const names[] = {"setup.exe", "setup[].exe", "setup]x[.exe"};
    HostInstall host;
    char source[MAX_PATH];
    InstallerPath(source, "Winter.ovs");
    for (size_t i = 0; i < dimof(names); i++)
    {
        char context[64];
        char installer[MAX_PATH];
        InstallerRun run;
        snprintf(context, sizeof(context), "no skin name, %s", names[i]);
        SetTestContext(context);
        ok(PrepareHostInstall(&host, "C:\\orvanta-e2e\\noname", HOST_SKINS_FOLDER | HOST_EXECUTABLE, "Winter.ovs"),
           "cannot lay out the stand-in host");
        snprintf(installer, sizeof(installer), "%s\\%s", host.dir, names[i]);
        ok(CopyFileA(source, installer, FALSE), "cannot copy the installer to %s", installer);
        if (!StartHostStandIn(host.dir, "stay"))
            return FinishCase();

        RunInstaller(installer, NULL, host.target, host.skins, runTimeoutMs, &run);
        CheckRunEnded(&run, 0);
        Sleep(300);
        ok(FindLogLines(host.log, "command ", 0, NULL, 0) == 0, "the host was sent a command, expected none");
        ok(FindLogLines(host.log, "start ", 0, NULL, 0) == 1, "a host was started, expected none");
        CheckFile(host.target, absent, "nothing");
        FinishCase();
    }
}

// ---- Payloads ----

// Two payloads: two boxes with the same caption, in order, the file holding
// each payload's bytes at its box; the second one stays.
static void test_two_payloads(void)
{
    HostInstall host;
    InstallerRun run;
    char installer[MAX_PATH];
    SetTestContext("two payloads");
    ok(PrepareHostInstall(&host, "C:\\orvanta-e2e\\two", HOST_SKINS_FOLDER | HOST_EXECUTABLE, "Twin.ovs"),
       "cannot lay out the stand-in host");
    InstallerPath(installer, "Twin.ovs");

    RunInstaller(installer, NULL, host.target, host.skins, runTimeoutMs, &run);
    CheckRunEnded(&run, 2);
    CheckBox(&run, 0, host.target, installedText);
    CheckBox(&run, 1, host.target, installedText);
    const char *payloads[] = {"first.ovs", "second.ovs"};
    for (int i = 0; i < 2 && i < run.boxCount; i++)
    {
        FileState expected = FixtureState(payloads[i]);
        const FileState &atBox = run.boxes[i].target;
        ok(atBox.size == expected.size && atBox.hash == expected.hash,
           "at box %d the target held %lu bytes (hash %016llx), expected %s: %lu bytes (hash %016llx)", i + 1,
           atBox.size, atBox.hash, payloads[i], expected.size, expected.hash);
        ok(!strcmp(run.boxes[i].folder, "Twin.ovs"), "at box %d the skins folder held \"%s\", expected Twin.ovs", i + 1,
           run.boxes[i].folder);
    }
    CheckFile(host.target, FixtureState("second.ovs"), "the second payload");
    FinishCase();
}

// One payload per installer, each found and written byte for byte: named by
// an integer id, empty, replacing a file that was there.
static void test_single_payloads(void)
{
    static const struct
    {
        const char *skin;    // the installer's skin file name
        const char *fixture; // the bytes it carries
        int oldFile;         // a former skin file is at the target
    } cases[] = {
        {"Numbered.ovs", "numbered.ovs", 0},
        {"Empty.ovs", "Empty.ovs", 0},
        {"Winter.ovs", "Winter.ovs", 1},
        {"Empty.ovs", "Empty.ovs", 1},
    };
    for (size_t i = 0; i < dimof(cases); i++)
    {
        HostInstall host;
        InstallerRun run;
        char installer[MAX_PATH];
        char context[128];
        snprintf(context, sizeof(context), "payload %s%s", cases[i].skin,
                 cases[i].oldFile ? " over a former file" : "");
        SetTestContext(context);
        ok(PrepareHostInstall(&host, "C:\\orvanta-e2e\\single", HOST_SKINS_FOLDER | HOST_EXECUTABLE, cases[i].skin),
           "cannot lay out the stand-in host");
        InstallerPath(installer, cases[i].skin);
        if (cases[i].oldFile)
            ok(WriteWholeFile(host.target, oldSkin, sizeof(oldSkin)), "cannot write %s", host.target);

        RunInstaller(installer, NULL, host.target, host.skins, runTimeoutMs, &run);
        CheckRunEnded(&run, 1);
        CheckBox(&run, 0, host.target, installedText);
        CheckFile(host.target, FixtureState(cases[i].fixture), cases[i].fixture);
        char listing[1024];
        ListFolder(host.skins, listing, sizeof(listing));
        ok(!strcmp(listing, cases[i].skin), "the skins folder holds \"%s\", expected %s only", listing, cases[i].skin);
        FinishCase();
    }
}

// No payload in the image: no box, nothing written, and the host that was
// running is still started again.
static void test_no_payload(void)
{
    HostInstall host;
    InstallerRun run;
    char installer[MAX_PATH];
    SetTestContext("no payload");
    ok(PrepareHostInstall(&host, "C:\\orvanta-e2e\\bare", HOST_SKINS_FOLDER | HOST_EXECUTABLE, "Bare.ovs"),
       "cannot lay out the stand-in host");
    InstallerPath(installer, "Bare.ovs");
    if (!StartHostStandIn(host.dir, "exit"))
        return FinishCase();

    RunInstaller(installer, NULL, host.target, host.skins, runTimeoutMs, &run);
    CheckRunEnded(&run, 0);
    CheckFile(host.target, absent, "nothing");
    ok(FindLogLines(host.log, "command 1000 ", 0, NULL, 0) == 1, "the host was not sent command 1000");
    CheckHostRestarted(&host, &run);
    FinishCase();
}

// ---- Failed copies ----

// The skins folder is missing: the failure is reported and nothing is created.
static void test_missing_skins_folder(void)
{
    HostInstall host;
    InstallerRun run;
    char installer[MAX_PATH];
    char listing[1024];
    SetTestContext("skins folder missing");
    ok(PrepareHostInstall(&host, "C:\\orvanta-e2e\\nofolder", HOST_EXECUTABLE, "Winter.ovs"),
       "cannot lay out the stand-in host");
    InstallerPath(installer, "Winter.ovs");

    RunInstaller(installer, NULL, NULL, NULL, runTimeoutMs, &run);
    CheckRunEnded(&run, 1);
    CheckBox(&run, 0, host.target, failedText);
    ListFolder(host.dir, listing, sizeof(listing));
    ok(!strcmp(listing, "Orvanta.exe"), "the install directory holds \"%s\", expected Orvanta.exe only", listing);
    FinishCase();
}

// Another program holds the skin open for reading: the copy fails, the former
// skin keeps its bytes, and no temporary file is left.
static void test_target_held_open(void)
{
    HostInstall host;
    InstallerRun run;
    char installer[MAX_PATH];
    char holder[MAX_PATH];
    char commandLine[3 * MAX_PATH];
    char listing[1024];
    SetTestContext("target held open");
    ok(PrepareHostInstall(&host, "C:\\orvanta-e2e\\held", HOST_SKINS_FOLDER | HOST_EXECUTABLE, "Winter.ovs"),
       "cannot lay out the stand-in host");
    InstallerPath(installer, "Winter.ovs");
    ok(WriteWholeFile(host.target, oldSkin, sizeof(oldSkin)), "cannot write %s", host.target);

    snprintf(holder, sizeof(holder), "%s\\hold_file.exe", binFolder);
    snprintf(commandLine, sizeof(commandLine), "\"%s\" \"%s\"", holder, host.target);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(holder, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
    {
        ok(0, "cannot start %s: error %lu", holder, GetLastError());
        return FinishCase();
    }
    // It holds the file once writers are refused.
    HANDLE probe = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 300; i++)
    {
        probe =
            CreateFileA(host.target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
        if (probe == INVALID_HANDLE_VALUE)
            break;
        CloseHandle(probe);
        Sleep(50);
    }
    ok(probe == INVALID_HANDLE_VALUE, "the holder did not take the file");

    RunInstaller(installer, NULL, host.target, host.skins, runTimeoutMs, &run);
    CheckRunEnded(&run, 1);
    CheckBox(&run, 0, host.target, failedText);
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    CheckFile(host.target, OldSkinState(), "the former skin");
    ListFolder(host.skins, listing, sizeof(listing));
    ok(!strcmp(listing, "Winter.ovs"), "the skins folder holds \"%s\", expected Winter.ovs only", listing);
    FinishCase();
}

// A disk too small for the payload: the copy fails, the former skin keeps its
// bytes, and no temporary file is left. Of two payloads, a failed later one
// leaves the earlier installed file in place. Drive T: is a tiny disk of its
// own (64 KiB) that the test set-up mounts; the host's executable is not put
// there.
static void test_disk_full(void)
{
    ULARGE_INTEGER freeBytes, totalBytes;
    SetTestContext("disk full");
    UINT type = GetDriveTypeA("T:\\");
    int tiny = type != DRIVE_NO_ROOT_DIR && GetDiskFreeSpaceExA("T:\\", &freeBytes, &totalBytes, NULL) &&
               totalBytes.QuadPart <= 1024 * 1024;
    ok(tiny, "drive T: is not a tiny disk (type %u): the test set-up mounts one, which needs root", type);
    if (!tiny)
        return FinishCase();

    static const struct
    {
        const char *skin;
        int oldFile;
        int boxes;
        const char *secondText;
        const char *finalFixture; // NULL: the former skin
    } cases[] = {
        {"Big.ovs", 1, 1, NULL, NULL},
        {"Big.ovs", 0, 1, NULL, NULL},
        {"Mixed.ovs", 0, 2, failedText, "first.ovs"},
    };
    for (size_t i = 0; i < dimof(cases); i++)
    {
        if (oneSkinInstallersOnly && cases[i].boxes > 1)
        {
            printf("disk full, %s: left out, it needs an installer with two payloads\n", cases[i].skin);
            continue;
        }
        HostInstall host;
        InstallerRun run;
        char installer[MAX_PATH];
        char listing[1024];
        char context[128];
        snprintf(context, sizeof(context), "disk full, %s%s", cases[i].skin,
                 cases[i].oldFile ? " over a former file" : "");
        SetTestContext(context);
        ok(PrepareHostInstall(&host, "T:\\Orvanta", HOST_SKINS_FOLDER, cases[i].skin),
           "cannot lay out the stand-in host");
        InstallerPath(installer, cases[i].skin);
        if (cases[i].oldFile)
            ok(WriteWholeFile(host.target, oldSkin, sizeof(oldSkin)), "cannot write %s", host.target);

        RunInstaller(installer, NULL, host.target, host.skins, runTimeoutMs, &run);
        CheckRunEnded(&run, cases[i].boxes);
        if (cases[i].boxes == 1)
            CheckBox(&run, 0, host.target, failedText);
        else
        {
            CheckBox(&run, 0, host.target, installedText);
            CheckBox(&run, 1, host.target, cases[i].secondText);
        }
        FileState expected = cases[i].finalFixture ? FixtureState(cases[i].finalFixture)
                             : cases[i].oldFile    ? OldSkinState()
                                                   : absent;
        CheckFile(host.target, expected, cases[i].finalFixture ? cases[i].finalFixture : "the former skin");
        ListFolder(host.skins, listing, sizeof(listing));
        const char *expectedListing = expected.exists ? cases[i].skin : "";
        ok(!strcmp(listing, expectedListing), "the skins folder holds \"%s\", expected \"%s\"", listing,
           expectedListing);
        FinishCase();
        RemoveTree("T:\\Orvanta");
    }
}

// ---- The registry entry ----

// The host's registry entry cannot be read: the not-installed report, the web
// page, and a running host is commanded but not started again.
static void test_not_installed(void)
{
    char tooLong[300];
    memset(tooLong, 'x', sizeof(tooLong) - 1);
    memcpy(tooLong, "C:\\", 3);
    tooLong[sizeof(tooLong) - 1] = '\0';
    // 260 bytes of string with no terminator: no room to add one. The byte
    // after them is not a zero, so the registry stores them as given.
    char full[MAX_PATH + 1];
    memset(full, 'y', sizeof(full));
    memcpy(full, "C:\\", 3);
    static const DWORD number = 7;
    static const char binaryPath[] = "C:\\orvanta-e2e\\notinstalled";

    static const struct
    {
        const char *what;
        int key; // 0: no key; 1: key without value; 2: the value below
        DWORD type;
        const void *data;
        DWORD size;
    } cases[] = {
        {"key missing", 0, 0, NULL, 0},
        {"value missing", 1, 0, NULL, 0},
        {"value of 300 bytes", 2, REG_SZ, tooLong, sizeof(tooLong)},
        {"260 bytes, no terminator", 2, REG_SZ, full, MAX_PATH},
        {"REG_DWORD value", 2, REG_DWORD, &number, sizeof(number)},
        {"REG_BINARY value", 2, REG_BINARY, binaryPath, sizeof(binaryPath)},
    };
    char urlLog[MAX_PATH];
    snprintf(urlLog, sizeof(urlLog), "%s\\urls.log", binFolder);
    for (size_t i = 0; i < dimof(cases); i++)
    {
        HostInstall host;
        InstallerRun run;
        char installer[MAX_PATH];
        char url[1024] = "";
        char context[128];
        snprintf(context, sizeof(context), "not installed, %s", cases[i].what);
        SetTestContext(context);
        ok(PrepareHostInstall(&host, binaryPath, HOST_SKINS_FOLDER | HOST_EXECUTABLE, "Winter.ovs"),
           "cannot lay out the stand-in host");
        if (cases[i].key == 0)
            DeleteHostKey();
        else if (cases[i].key == 1)
            ok(CreateHostKeyWithoutValue(), "cannot create the host key");
        else
            ok(SetInstallDirValue(cases[i].type, cases[i].data, cases[i].size), "cannot set the value");
        DeleteFileA(urlLog);
        InstallerPath(installer, "Winter.ovs");
        if (!StartHostStandIn(host.dir, "stay"))
            return FinishCase();

        RunInstaller(installer, NULL, host.target, host.skins, runTimeoutMs, &run);
        CheckRunEnded(&run, 1);
        CheckBox(&run, 0, installerCaption, notInstalledText);
        CheckFile(host.target, absent, "nothing");
        int urls = WaitForLogLines(urlLog, "https", 1, 10000);
        FindLogLines(urlLog, "https", 0, url, sizeof(url));
        ok(urls == 1 && !strcmp(url, ORVANTA_WEB_PAGE), "web page: %d opened, \"%s\"; expected one, \"%s\"", urls, url,
           ORVANTA_WEB_PAGE);
        ok(FindLogLines(host.log, "command 1000 ", 0, NULL, 0) == 1, "the running host was not sent command 1000");
        Sleep(1500);
        ok(FindLogLines(host.log, "start ", 0, NULL, 0) == 1, "a host was started, expected none");
        FinishCase();
    }
    DeleteFileA(urlLog);
}

// String values as stored: one without its terminator is ended after its
// bytes, and an expandable one is used with its references unexpanded.
static void test_install_dir_strings(void)
{
    char cwd[MAX_PATH];
    SetTestContext("install directory stored without terminator");
    {
        HostInstall host;
        InstallerRun run;
        char installer[MAX_PATH];
        char value[MAX_PATH];
        ok(PrepareHostInstall(&host, "C:\\orvanta-e2e\\unterminated", HOST_SKINS_FOLDER | HOST_EXECUTABLE,
                              "Winter.ovs"),
           "cannot lay out the stand-in host");
        // The byte after the string is not a zero, so no terminator is stored.
        snprintf(value, sizeof(value), "%s#", host.dir);
        ok(SetInstallDirValue(REG_SZ, value, (DWORD)strlen(host.dir)), "cannot set the value");
        InstallerPath(installer, "Winter.ovs");
        RunInstaller(installer, NULL, host.target, host.skins, runTimeoutMs, &run);
        CheckRunEnded(&run, 1);
        CheckBox(&run, 0, host.target, installedText);
        CheckFile(host.target, FixtureState("Winter.ovs"), "the payload");
        FinishCase();
    }

    SetTestContext("REG_EXPAND_SZ install directory");
    {
        // "%ORVANTA_E2E_DIR%" is used as it is: a folder of that very name
        // under the installer's working directory gets the skin, not the
        // folder the variable names.
        HostInstall expanded;
        InstallerRun run;
        char installer[MAX_PATH];
        char literalSkins[MAX_PATH];
        char literalTarget[MAX_PATH];
        static const char value[] = "%ORVANTA_E2E_DIR%";
        ok(PrepareHostInstall(&expanded, "C:\\orvanta-e2e\\expanded", HOST_SKINS_FOLDER | HOST_EXECUTABLE,
                              "Winter.ovs"),
           "cannot lay out the stand-in host");
        SetEnvironmentVariableA("ORVANTA_E2E_DIR", expanded.dir);
        snprintf(cwd, sizeof(cwd), "C:\\orvanta-e2e\\expandcwd");
        RemoveTree(cwd);
        snprintf(literalSkins, sizeof(literalSkins), "%s\\%s\\ov-skins", cwd, value);
        snprintf(literalTarget, sizeof(literalTarget), "%s\\Winter.ovs", literalSkins);
        ok(CreateFolders(literalSkins), "cannot create %s", literalSkins);
        ok(SetInstallDirValue(REG_EXPAND_SZ, value, sizeof(value)), "cannot set the value");
        InstallerPath(installer, "Winter.ovs");

        RunInstaller(installer, cwd, literalTarget, NULL, runTimeoutMs, &run);
        CheckRunEnded(&run, 1);
        CheckBox(&run, 0, "%ORVANTA_E2E_DIR%\\ov-skins\\Winter.ovs", installedText);
        CheckFile(literalTarget, FixtureState("Winter.ovs"), "the payload");
        CheckFile(expanded.target, absent, "nothing (the value is not expanded)");
        SetEnvironmentVariableA("ORVANTA_E2E_DIR", NULL);
        RemoveTree(cwd);
        FinishCase();
    }
}

// ---- Paths ----

// An install directory with spaces: the host is started by its quoted path,
// and a program at C:\Program.exe never runs in its stead.
static void test_install_dir_with_spaces(void)
{
    HostInstall host;
    InstallerRun run;
    char trap[MAX_PATH];
    SetTestContext("install directory with spaces");
    snprintf(trap, sizeof(trap), "%s\\trap.exe", binFolder);
    DeleteFileA("C:\\trap.log");
    ok(CopyFileA(trap, "C:\\Program.exe", FALSE), "cannot lay the trap at C:\\Program.exe: error %lu", GetLastError());
    if (!InstallWinter(&host, "C:\\Program Files\\Orvanta Skins Test", "exit", &run))
        return FinishCase();
    CheckHostRestarted(&host, &run);
    Sleep(500);
    ok(GetFileAttributesA("C:\\trap.log") == INVALID_FILE_ATTRIBUTES, "C:\\Program.exe was started");
    DeleteFileA("C:\\Program.exe");
    DeleteFileA("C:\\trap.log");
    RemoveTree(host.dir);
    FinishCase();
}

// Paths that do not fit in MAX_PATH: nothing is written, one failure box
// captioned "Skin Install", and the commanded host is still started again.
static void test_over_long_paths(void)
{
    static const struct
    {
        size_t dirLength;
        const char *what;
    } cases[] = {
        {245, "target path of 265 bytes"},
        {239, "target path fits, the temporary file's does not"},
        {259, "longest install directory"},
    };
    for (size_t i = 0; i < dimof(cases); i++)
    {
        char dir[MAX_PATH];
        char context[128];
        InstallerRun run;
        char installer[MAX_PATH];
        snprintf(context, sizeof(context), "over-long path, %s", cases[i].what);
        SetTestContext(context);
        // The directory itself need not exist: the installer stops before it.
        memset(dir, 'L', cases[i].dirLength);
        memcpy(dir, "C:\\orvanta-e2e\\long\\", 20);
        dir[cases[i].dirLength] = '\0';
        ok(SetInstallDir(dir), "cannot record the install directory");

        HostInstall running;
        ok(PrepareHostInstall(&running, "C:\\orvanta-e2e\\longhost", HOST_SKINS_FOLDER | HOST_EXECUTABLE, "Winter.ovs"),
           "cannot lay out the stand-in host");
        ok(SetInstallDir(dir), "cannot record the install directory");
        if (!StartHostStandIn(running.dir, "exit"))
            return FinishCase();
        InstallerPath(installer, "Winter.ovs");
        RunInstaller(installer, NULL, NULL, running.skins, runTimeoutMs, &run);
        CheckRunEnded(&run, 1);
        CheckBox(&run, 0, installerCaption, failedText);
        ok(FindLogLines(running.log, "command 1000 ", 0, NULL, 0) == 1, "the host was not sent command 1000");
        if (run.boxCount > 0)
        {
            DWORD after = run.exitTick - run.boxes[0].dismissedTick;
            ok(after >= 1000, "the installer ended %lu ms after the box, expected the pause before the restart", after);
        }
        FinishCase();
    }
}

// Skin names that would lead out of the skins folder are refused like a
// failed copy; a name with an inner backslash stays inside and is written.
static void test_skin_names_leaving_the_folder(void)
{
    static const struct
    {
        const char *folder; // where the installer is put, below the host's install directory
        const char *file;   // its file name there
        int written;
    } cases[] = {
        {"dots", "setup [..].exe", 0}, // ".."
        {"lead[", "evil].exe", 0},     // "\evil"
        {"plain", "setup].exe", 0},    // "C:\...\plain\setup": no '[', so it starts with the drive
        {"dl[sub", "inner].exe", 1},   // "sub\inner", inside the skins folder
    };
    char source[MAX_PATH];
    InstallerPath(source, "Winter.ovs");
    for (size_t i = 0; i < dimof(cases); i++)
    {
        HostInstall host;
        InstallerRun run;
        char folder[MAX_PATH];
        char installer[MAX_PATH];
        char skinName[MAX_PATH];
        char listing[1024];
        static const char dir[] = "C:\\orvanta-e2e\\names";
        snprintf(folder, sizeof(folder), "%s\\installer\\%s", dir, cases[i].folder);
        snprintf(installer, sizeof(installer), "%s\\%s", folder, cases[i].file);
        // What the installer reads from its path: from the last '[' to the last ']'.
        const char *open = strrchr(installer, '[');
        const char *close = strrchr(installer, ']');
        const char *start = open ? open + 1 : installer;
        snprintf(skinName, sizeof(skinName), "%.*s", (int)(close - start), start);

        char context[2 * MAX_PATH];
        snprintf(context, sizeof(context), "skin name \"%s\"", skinName);
        SetTestContext(context);
        ok(PrepareHostInstall(&host, dir, HOST_SKINS_FOLDER | HOST_EXECUTABLE, skinName),
           "cannot lay out the stand-in host");
        char subfolder[MAX_PATH];
        snprintf(subfolder, sizeof(subfolder), "%s\\sub", host.skins);
        ok(CreateDirectoryA(subfolder, NULL), "cannot create %s", subfolder);
        ok(CreateFolders(folder), "cannot create %s", folder);
        ok(CopyFileA(source, installer, FALSE), "cannot copy the installer to %s", installer);

        RunInstaller(installer, NULL, NULL, NULL, runTimeoutMs, &run);
        CheckRunEnded(&run, 1);
        CheckBox(&run, 0, host.target, cases[i].written ? installedText : failedText);
        if (cases[i].written)
            CheckFile(host.target, FixtureState("Winter.ovs"), "the payload");
        ListFolder(host.skins, listing, sizeof(listing));
        ok(!strcmp(listing, "sub"), "the skins folder holds \"%s\", expected sub only", listing);
        ListFolder(subfolder, listing, sizeof(listing));
        const char *expected = cases[i].written ? "inner" : "";
        ok(!strcmp(listing, expected), "%s holds \"%s\", expected \"%s\"", subfolder, listing, expected);
        ListFolder(host.dir, listing, sizeof(listing));
        ok(!strcmp(listing, "installer,Orvanta.exe,ov-skins"),
           "the install directory holds \"%s\", expected Orvanta.exe, installer and ov-skins only", listing);
        FinishCase();
    }
}

// ---- Groups ----

// Not a test: in a fresh prefix the first window can fail to appear for a
// while, so the set-up makes one before the tests need them.
static void warm_up(void)
{
    HostInstall host;
    ok(PrepareHostInstall(&host, "C:\\orvanta-e2e\\warmup", HOST_SKINS_FOLDER | HOST_EXECUTABLE, "Winter.ovs"),
       "cannot lay out the stand-in host");
    for (int attempt = 0; attempt < 5 && !StartHostStandIn(host.dir, "stay"); attempt++)
        EndHostStandIns();
    EndHostStandIns();
    RemoveTree(host.dir);
}

static const struct
{
    const char *name;
    void (*run)(void);
} groups[] = {
    {"warm_up", warm_up},
    {"running_host", test_running_host},
    {"host_not_running", test_host_not_running},
    {"hung_host", test_hung_host},
    {"no_skin_name", test_no_skin_name},
    {"two_payloads", test_two_payloads},
    {"single_payloads", test_single_payloads},
    {"no_payload", test_no_payload},
    {"missing_skins_folder", test_missing_skins_folder},
    {"target_held_open", test_target_held_open},
    {"disk_full", test_disk_full},
    {"not_installed", test_not_installed},
    {"install_dir_strings", test_install_dir_strings},
    {"install_dir_with_spaces", test_install_dir_with_spaces},
    {"over_long_paths", test_over_long_paths},
    {"skin_names_leaving_the_folder", test_skin_names_leaving_the_folder},
};

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    GetModuleFolder(binFolder);
    if (argc > 2)
    {
        snprintf(installers, sizeof(installers), "%s", argv[2]);
        oneSkinInstallersOnly = 1;
    }
    else
        snprintf(installers, sizeof(installers), "%s\\installers", binFolder);
    snprintf(fixtures, sizeof(fixtures), "%s\\fixtures", binFolder);

    int ran = 0;
    for (size_t i = 0; i < dimof(groups); i++)
    {
        if (argc > 1 && strcmp(argv[1], groups[i].name) != 0)
            continue;
        EndHostStandIns();
        groups[i].run();
        DeleteHostKey();
        ran++;
    }
    if (ran == 0)
    {
        printf("unknown group %s\n", argc > 1 ? argv[1] : "");
        return 2;
    }
    printf("%d checks, %d failed\n", CountChecks(), CountFailures());
    return CountFailures() ? 1 : 0;
}

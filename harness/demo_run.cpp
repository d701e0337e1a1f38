// Shows an installer at work: lays out a stand-in host installation with a
// space in its path, starts the stand-in host, runs the installer, presses its
// message boxes, and prints what happened.
//
// Usage: demo_run "setup [<skin>].exe" <skin file>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "harness.h"

static const char installDir[] = "C:\\Program Files\\Orvanta";

// The skin's file name: the part of the installer's name between brackets.
static void SkinNameOf(const char *installer, char *name)
{
    const char *open = strrchr(installer, '[');
    const char *close = strrchr(installer, ']');
    if (open == NULL || close == NULL || close < open)
        name[0] = '\0';
    else
        snprintf(name, MAX_PATH, "%.*s", (int)(close - open - 1), open + 1);
}

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc != 3)
    {
        printf("usage: demo_run INSTALLER SKIN_FILE\n");
        return 2;
    }
    const char *installer = argv[1];
    const char *skinFile = argv[2];
    char skinName[MAX_PATH];
    char line[1024];
    SkinNameOf(installer, skinName);

    HostInstall host;
    EndHostStandIns();
    if (!PrepareHostInstall(&host, installDir, HOST_SKINS_FOLDER | HOST_EXECUTABLE, skinName))
        return 1;
    printf("stand-in host installed in \"%s\" (HKLM\\Software\\Orvanta, Install_Dir)\n", host.dir);
    if (!StartHostStandIn(host.dir, "exit"))
        return 1;
    printf("stand-in host running: a window titled \"Orvanta\"\n");

    printf("running \"%s\"\n", installer);
    InstallerRun run;
    RunInstaller(installer, NULL, host.target, host.skins, 60000, &run);

    int good = run.started && !run.timedOut && run.exitCode == 0;
    if (FindLogLines(host.log, "command ", 0, line, sizeof(line)))
        printf("the host was sent command 1000 and logged: %s\n", line);
    else
        good = 0, printf("the host was sent no command\n");
    for (int i = 0; i < run.boxCount; i++)
        printf("message box %d (OK pressed): caption \"%s\", text \"%s\"\n", i + 1, run.boxes[i].caption,
               run.boxes[i].text);

    FileState written = ReadFileState(host.target);
    FileState skin = ReadFileState(skinFile);
    if (written.exists)
        printf("file written: %s, %lu bytes, %s the skin file\n", host.target, written.size,
               written.size == skin.size && written.hash == skin.hash ? "identical to" : "DIFFERENT FROM");
    else
        printf("no file at %s\n", host.target);
    good = good && written.exists && written.size == skin.size && written.hash == skin.hash;

    for (int i = 0; i < 200 && FindLogLines(host.log, "start ", 0, NULL, 0) < 2; i++)
        Sleep(50);
    if (FindLogLines(host.log, "start ", 1, line, sizeof(line)) >= 2 && run.boxCount > 0)
    {
        unsigned long tick = 0;
        sscanf(line + 6, "%lu", &tick);
        printf("the host was started again %ld ms after the last box: %s\n",
               (long)(tick - run.boxes[run.boxCount - 1].dismissedTick), line);
    }
    else
        good = 0, printf("the host was not started again\n");
    printf("installer exit code: %lu\n", run.exitCode);

    EndHostStandIns();
    printf("%s\n", good ? "demo: the skin was installed" : "demo: FAILED");
    return good ? 0 : 1;
}

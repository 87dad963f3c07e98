// Linux platform layer: takes the machine-wide lock of a run, serves the
// hidden words, raises the I/O privilege, activates one provider of physical
// buffers, opens the memory manager and switches the NMI watchdog off; and
// ends every run, switching the watchdog back on.
#include "platformlnx.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/io.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DriverManager.h"
#include "driver.h"
#include "loaddiag.h"
#include "runlock.h"
#include "smidevice.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"
#include "../firmware/oshook.h"
#include "../firmware/RuntimeMemoryHole.h"

// Providers are tried in this order; a null entry is skipped.
PLATFORM_LOADER RuntimeMemoryHoleLoader = QX3_RuntimeMemoryHoleLoader;
PLATFORM_LOADER DefaultDriverLoader = QX3_LinuxDriverLoader;
PLATFORM_UNLOADER RuntimeMemoryHoleUnloader = QX3_RuntimeMemoryHoleUnloader;
PLATFORM_UNLOADER DefaultDriverUnloader = QX3_LinuxDriverUnloader;

// Builds or exports the helper module for a hidden word and ends the run.
[[noreturn]] static void ServeHiddenWord(QX3_ARGV_LIST& args, const char* step)
{
    WriteOut(" - Program initializing .. \n");
    WriteOut("%s", step);
    if (BuildQorflDrv(args)) {
        WriteOut("ok\n");
        WriteOut(" - Program ended normally.\n");
        g_LastErrorCode = 0;
    } else {
        WriteOut("fail\n");
        g_LastErrorCode = QX3_ERR_LOAD_DRIVER;
    }
    PlatformFinalize(args);
}

int PlatformInitialize(QX3_ARGV_LIST& args)
{
    // One run at a time per machine: nothing of the machine is touched
    // before the lock is held, the hidden words' builds included.
    int locked = KVT_TakeRunLock();
    if (locked != 0)
        return locked;

    for (unsigned int i = 1; i < args.size(); i++) {
        const char* word = args[i]->text;
        if (IdentifyArg(word, "/makedrv", true))
            ServeHiddenWord(args, " - Make KVTLNX driver .... ");
        if (IdentifyArg(word, "/gendrv", true))
            ServeHiddenWord(args, " - Generate KVTLNX driver .... ");
    }

    // Without the privilege the program writes no port itself (see
    // OutPortByte); the signed SMI module carries the run when it can be had.
    gIoPrivilegeGranted = (iopl(3) == 0);
    g_LoadDiagnosis.IoplError = gIoPrivilegeGranted ? 0 : errno;
    if (!gIoPrivilegeGranted)
        SmiDeviceOpen();

    PLATFORM_LOADER loaders[] = {RuntimeMemoryHoleLoader, DefaultDriverLoader};
    unsigned int loaded = 0;
    for (PLATFORM_LOADER loader : loaders) {
        if (loader != nullptr && loader(args, loaded))
            loaded++;
    }
    if (loaded == 0) {
        KVT_ExplainNoProvider();
        return QX3_ERR_LOAD_DRIVER;
    }

    if (!InitMemMgr())
        return QX3_ERR_INIT_MEMMGR;

    OsSetNMI_WatchdogValue();
    return g_LastErrorCode;
}

void PlatformFinalize(QX3_ARGV_LIST& args)
{
    if (g_LastErrorCode != 0)
        g_LastErrorCode = (int)ErrorOut((ENUM_ERR_ID)g_LastErrorCode);
    CleanAll();
    PLATFORM_UNLOADER unloaders[] = {RuntimeMemoryHoleUnloader, DefaultDriverUnloader};
    for (PLATFORM_UNLOADER unloader : unloaders) {
        if (unloader != nullptr)
            unloader(args);
    }
    OsRestoreNMI_WatchdogValue();
    iopl(0);
    _exit(g_LastErrorCode);
}

// A bare program name is looked up the way the shell found it: the first
// executable regular file of that name in the directories of PATH.
bool FindOnSearchPath(const char* name, char* found, size_t foundSize)
{
    const char* pathList = getenv("PATH");
    if (pathList == nullptr)
        return false;
    const char* dir = pathList;
    while (true) {
        const char* colon = strchr(dir, ':');
        size_t dirLen = colon != nullptr ? (size_t)(colon - dir) : strlen(dir);
        int n;
        if (dirLen == 0)
            n = snprintf(found, foundSize, "%s", name);
        else
            n = snprintf(found, foundSize, "%.*s/%s", (int)dirLen, dir, name);
        struct stat st;
        if (n > 0 && (size_t)n < foundSize && stat(found, &st) == 0 && S_ISREG(st.st_mode) && access(found, X_OK) == 0)
            return true;
        if (colon == nullptr)
            return false;
        dir = colon + 1;
    }
}

char* GetCurrentFilePath(int /*argc*/, char* path)
{
    if (path == nullptr)
        return nullptr;
    static char resolved[4096];
    const char* use = path;
    if (strchr(path, '/') == nullptr && FindOnSearchPath(path, resolved, sizeof(resolved)))
        use = resolved;
    unsigned int length = (unsigned int)strlen(use);
    char* copy = (char*)AllocMem(length + 256);
    if (copy == nullptr)
        return nullptr;
    memcpy(copy, use, length + 1);
    return copy;
}

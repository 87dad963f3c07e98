// Why no provider of physical buffers could be had. The platform layer, the
// way through the SMI module and the helper module's build and load note
// what they found; when neither the memory hole nor a module can be had, one
// line for each cause goes to standard error, each starting with "ZORVIK: ".
#include "loaddiag.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "platformlnx.h"
#include "smidevice.h"

LOAD_DIAGNOSIS g_LoadDiagnosis;

#define LOCKDOWN_FILE "/sys/kernel/security/lockdown"
#define KEPT_MODULE "./qorfldrv_mod.o"

void KVT_KeepBuildLogTail(const char* path)
{
    char* tail = g_LoadDiagnosis.BuildLogTail;
    tail[0] = '\0';
    FILE* f = fopen(path, "rb");
    if (f == nullptr)
        return;
    long start = 0;
    if (fseek(f, 0, SEEK_END) == 0) {
        long size = ftell(f);
        if (size > BUILD_LOG_TAIL_SIZE - 1)
            start = size - (BUILD_LOG_TAIL_SIZE - 1);
    }
    size_t length = 0;
    if (fseek(f, start, SEEK_SET) == 0)
        length = fread(tail, 1, BUILD_LOG_TAIL_SIZE - 1, f);
    fclose(f);
    tail[length] = '\0';
    while (length > 0 && tail[length - 1] == '\n')
        tail[--length] = '\0';

    // A line cut by the size limit is dropped, then the last lines are kept.
    char* from = tail;
    if (start > 0) {
        char* newline = strchr(tail, '\n');
        from = newline != nullptr ? newline + 1 : tail + length;
    }
    unsigned int lines = 0;
    for (char* p = tail + length; p > from; p--) {
        if (p[-1] == '\n' && ++lines == BUILD_LOG_TAIL_LINES) {
            from = p;
            break;
        }
    }
    memmove(tail, from, strlen(from) + 1);
}

bool KVT_ReadModuleRelease(const char* path, char* release, unsigned int size)
{
    static const char KEY[] = "vermagic=";
    const unsigned int keyLength = sizeof(KEY) - 1;
    release[0] = '\0';
    FILE* f = fopen(path, "rb");
    if (f == nullptr)
        return false;
    // The module's information strings hold "vermagic=<release> <flags>".
    unsigned int matched = 0;
    unsigned int length = 0;
    bool found = false;
    int c;
    while ((c = fgetc(f)) != EOF) {
        if (!found) {
            if (c == KEY[matched])
                found = ++matched == keyLength;
            else
                matched = c == KEY[0] ? 1 : 0;
            continue;
        }
        if (c == '\0' || c == ' ' || c == '\n' || length + 1 >= size)
            break;
        release[length++] = (char)c;
    }
    fclose(f);
    release[length] = '\0';
    return length > 0;
}

void KVT_ReadLockdownMode(char* mode, unsigned int size)
{
    // "none [integrity] confidentiality": the mode in force is bracketed.
    mode[0] = '\0';
    char line[DRV_TEXT_SIZE];
    FILE* f = fopen(LOCKDOWN_FILE, "r");
    if (f == nullptr)
        return;
    bool read = fgets(line, sizeof(line), f) != nullptr;
    fclose(f);
    if (!read)
        return;
    char* open = strchr(line, '[');
    char* close = open != nullptr ? strchr(open, ']') : nullptr;
    if (close == nullptr || (unsigned int)(close - open - 1) >= size)
        return;
    memcpy(mode, open + 1, (size_t)(close - open - 1));
    mode[close - open - 1] = '\0';
}

static bool OnSearchPath(const char* name)
{
    char found[DRV_TEXT_SIZE * 4];
    return FindOnSearchPath(name, found, sizeof(found));
}

static void ExplainIoPrivilege(const char* lockdown)
{
    const LOAD_DIAGNOSIS& d = g_LoadDiagnosis;
    if (d.IoplError == 0)
        return;
    fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "I/O privilege refused (iopl: %s)", strerror(d.IoplError));
    if (d.IoplError == ENOSYS)
        fprintf(stderr, ": this kernel has no I/O port access\n");
    else if (d.IoplError == EPERM && lockdown[0] != '\0')
        fprintf(stderr, ": kernel lockdown (%s)\n", lockdown);
    else if (d.IoplError == EPERM)
        fprintf(stderr, ": not root, or the kernel is locked down\n");
    else
        fprintf(stderr, "\n");
}

#define SMI_MODULE_ENROL "mokutil --import /var/lib/dkms/mok.pub"

// Why the way through the signed SMI module is closed.
static void ExplainSmiModule()
{
    const LOAD_DIAGNOSIS& d = g_LoadDiagnosis;
    switch (d.SmiModuleState) {
    case SMI_MODULE_NOT_INSTALLED:
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX
                "the SMI module " ZORVIK_SMI_NAME
                " is not installed for this kernel; "
                "install the package zorvik-dkms and enrol its signing key with " SMI_MODULE_ENROL "\n");
        break;
    case SMI_MODULE_REJECTED:
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "the kernel rejected the signature of the SMI module " ZORVIK_SMI_NAME
                                              " (" SMI_KEY_REJECTED_TEXT
                                              "); enrol its signing key with " SMI_MODULE_ENROL " and reboot\n");
        break;
    case SMI_MODULE_LOAD_FAILED:
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "modprobe " ZORVIK_SMI_NAME " did not load the SMI module%s%s\n",
                d.SmiModprobeMessage[0] != '\0' ? ": " : "", d.SmiModprobeMessage);
        break;
    case SMI_MODULE_OPEN_FAILED:
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX ZORVIK_SMI_DEVICE " cannot be opened (%s)\n", strerror(d.SmiOpenError));
        break;
    case SMI_MODULE_TOO_OLD:
        fprintf(stderr,
                LOAD_DIAGNOSIS_PREFIX
                "the SMI module " ZORVIK_SMI_NAME
                " is too old for this ZORVIK "
                "(interface version %u, needs %u); update the package zorvik-dkms and reload the module\n",
                d.SmiAbiVersion, (unsigned int)ZORVIK_SMI_ABI_VERSION);
        break;
    default:
        break;
    }
}

static void ExplainModuleLoading(const char* lockdown)
{
    if (!FileExists("/proc/modules"))
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "this kernel loads no modules (no /proc/modules)\n");
    else if (lockdown[0] != '\0')
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "kernel lockdown (%s) refuses unsigned modules\n", lockdown);
}

static void ExplainKernelTree()
{
    const LOAD_DIAGNOSIS& d = g_LoadDiagnosis;
    if (!d.BuildNeeded || d.TreeState == KERNEL_TREE_FOUND)
        return;
    if (d.TreeState == KERNEL_TREE_MISSING)
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "no kernel tree for %s at %s", d.Release, d.TreeDir);
    else
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "the kernel tree %s has no readable include/linux/mm.h", d.TreeDir);
    fprintf(stderr, " (a Debian-style system installs it with the package linux-headers-%s)\n", d.Release);
}

static void ExplainBuildTools()
{
    if (!g_LoadDiagnosis.BuildNeeded)
        return;
    bool gcc = OnSearchPath("gcc");
    bool make = OnSearchPath("make");
    if (!gcc || !make)
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "no %s on PATH to build the helper module\n",
                !gcc && !make ? "gcc or make"
                : !gcc        ? "gcc"
                              : "make");
}

// A kept module whose vermagic names another release, or none, does not fit
// the running kernel; one built for this release was refused for another
// reason (a lockdown, said above).
static void ExplainKeptModule()
{
    const LOAD_DIAGNOSIS& d = g_LoadDiagnosis;
    if (!d.KeptModule || !d.ModuleRefused)
        return;
    char built[DRV_TEXT_SIZE];
    if (!KVT_ReadModuleRelease(KEPT_MODULE, built, sizeof(built)))
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX KEPT_MODULE " names no kernel release it was built for");
    else if (strcmp(built, d.Release) != 0)
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX KEPT_MODULE " was built for kernel %s, not for the running %s", built,
                d.Release);
    else
        return;
    fprintf(stderr, "; /makedrv rebuilds it for the running kernel\n");
}

static void ExplainBuild()
{
    const LOAD_DIAGNOSIS& d = g_LoadDiagnosis;
    if (!d.BuildFailed)
        return;
    fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "the helper module's build in %s failed%s\n", d.BuildDir,
            d.BuildLogTail[0] != '\0' ? "; the last lines of make's output:" : "");
    const char* line = d.BuildLogTail;
    while (*line != '\0') {
        const char* end = strchr(line, '\n');
        int length = end != nullptr ? (int)(end - line) : (int)strlen(line);
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "  %.*s\n", length, line);
        line += length + (end != nullptr ? 1 : 0);
    }
}

void KVT_ExplainNoProvider()
{
    char lockdown[DRV_TEXT_SIZE];
    KVT_ReadLockdownMode(lockdown, sizeof(lockdown));
    if (strcmp(lockdown, "none") == 0)
        lockdown[0] = '\0';

    ExplainIoPrivilege(lockdown);
    ExplainSmiModule();
    ExplainModuleLoading(lockdown);
    if (g_LoadDiagnosis.ModuleRefused) {
        fprintf(stderr, LOAD_DIAGNOSIS_PREFIX "the kernel refused the helper module (insmod failed)");
        if (lockdown[0] != '\0')
            fprintf(stderr, "; kernel lockdown (%s)", lockdown);
        fprintf(stderr, "\n");
    }
    ExplainKernelTree();
    ExplainBuildTools();
    ExplainKeptModule();
    ExplainBuild();
}

// Generation and build of the helper module in .temp, the rebuildable package
// of "/gendrv", and the hidden words "/makedrv" and "/gendrv" themselves.
//
// Outside tools are started with system() and their exit status is never
// used: whether a step worked is judged by the files it leaves.
#include "drvshared.h"

#include <string.h>
#include <unistd.h>

#include "drvtext.h"
#include "loaddiag.h"
#include "../framework/GlobalVariable.h"

int generatedrv = 0;
char gendir[DRV_TEXT_SIZE] = ".";

// The build's log in .temp, where make runs.
#define BUILD_LOG "build.log"

// Where make ran and the last lines it printed, before .temp goes.
static void NoteBuildFailure()
{
    g_LoadDiagnosis.BuildFailed = true;
    char cwd[DRV_TEXT_SIZE];
    if (getcwd(cwd, sizeof(cwd)) == nullptr)
        strcpy(cwd, ".");
    if (!Compose(g_LoadDiagnosis.BuildDir, "%s/.temp", strcmp(cwd, "/") == 0 ? "" : cwd))
        strcpy(g_LoadDiagnosis.BuildDir, ".temp");
    KVT_KeepBuildLogTail(".temp/" BUILD_LOG);
}

void CreateDriverSoueceFile(char* kernel)
{
    char release[DRV_TEXT_SIZE];
    char kernelDir[DRV_TEXT_SIZE];

    RunCommand("rm -f qorfldrv_mod");
    if (FileExists("./qorfldrv_mod"))
        return;

    bool kernel24 = ReadKernelRelease(release);
    if (kernel == nullptr) {
        Compose(g_LoadDiagnosis.Release, "%s", release);
        if (!LocateKernelSource(release, kernel24, kernelDir, true))
            return;
    } else {
        // "KERNEL=<dir> ": the word goes to make as typed, the tree is <dir>.
        size_t len = strlen(kernel);
        if (len > 0)
            kernel[len - 1] = '\0';
        if (!Compose(kernelDir, "%s", len > 7 ? kernel + 7 : ""))
            return;
    }

    RunCommand("rm -rf .temp");
    RunCommand("mkdir -p .temp");
    if (!WriteDriverSourceFiles(kernel24, kernelDir)) {
        // Nothing is built from a tree without a readable mm.h.
        NoteKernelTree(KERNEL_TREE_WITHOUT_MM_H, kernelDir);
        RunCommand("rm -rf .temp");
        return;
    }

    if (FileExists(".temp/Makefile")) {
        if (kernel24 && kernel == nullptr)
            RunCommand("cp -f /boot/config-%s %s/.config", release, kernelDir);
        if (chdir(".temp") == 0) {
            if (kernel24) {
                // Without a kernel word make is handed the tree itself: an
                // existing directory, a goal with nothing to do.
                RunCommand("make %s clean> /dev/null", kernel != nullptr ? kernel : kernelDir);
            } else {
                RunCommand("make clean > /dev/null");
            }
            // make's output is kept in a log, shown when the build fails.
            if (kernel != nullptr)
                RunCommand("make %s > " BUILD_LOG, kernel);
            else
                RunCommand("make > " BUILD_LOG);
            if (chdir("../") != 0) {
                // Nothing to go back to; the checks below then find nothing.
            }
            if (!FileExists("./qorfldrv_mod"))
                NoteBuildFailure();
        }
        GenerateDriverSoueceFile(kernel);
        RunCommand("rm -rf .temp");
    }
    sleep(1);
}

void GenerateDriverSoueceFile(char* kernel)
{
    char release[DRV_TEXT_SIZE];
    char kernelDir[DRV_TEXT_SIZE];
    char path[DRV_TEXT_SIZE];

    if (generatedrv == 0)
        return;
    RunCommand("sync");

    bool kernel24 = ReadKernelRelease(release);
    if (kernel == nullptr && !LocateKernelSource(release, kernel24, kernelDir, false))
        return;

    if (strcmp(gendir, "./") != 0)
        RunCommand("mkdir -p %s", gendir);
    RunCommand("cp -f .temp/qorwrap.c %s/qorwrap.c", gendir);
    RunCommand("cp -f .temp/qorwrap.h %s/qorwrap.h", gendir);

    if (!Compose(path, "%s/Makefile", gendir))
        return;
    FILE* f = fopen(path, "w+");
    if (f == nullptr)
        return;
    if (kernel24) {
        RunCommand("cp -f ./.temp/qorfldrv.o %s/qorfldrv.o", gendir);
        WritePackageMakefile(f, true);
        fclose(f);
        if (kernel == nullptr)
            RunCommand("cp -f /boot/config-%s %s/.config", release, kernelDir);
    } else {
        RunCommand("cp -f ./.temp/qorfldrv.o_shipped %s/qorfldrv.o_shipped", gendir);
        WritePackageMakefile(f, false);
        fclose(f);
    }
}

// A value of OUTPUT= or KERNEL= goes into shell command lines as typed: only
// letters, digits and "/._+-" are let through, and it must fit every command
// it takes part in.
static bool IsSafePathValue(const char* value, const char* const* uses, size_t count)
{
    for (const char* c = value; *c != '\0'; c++) {
        bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') ||
                     strchr("/._+-", *c) != nullptr;
        if (!plain)
            return false;
    }
    char probe[DRV_TEXT_SIZE];
    for (size_t i = 0; i < count; i++) {
        int n = snprintf(probe, sizeof(probe), uses[i], value);
        if (n < 0 || n >= (int)sizeof(probe))
            return false;
    }
    return true;
}

// The command lines and paths that take the output directory...
static const char* const GENDIR_USES[] = {
    "mkdir -p %s", "cp -f .temp/qorwrap.c %s/qorwrap.c",     "cp -f .temp/qorwrap.h %s/qorwrap.h",
    "%s/Makefile", "cp -f ./.temp/qorfldrv.o %s/qorfldrv.o", "cp -f ./.temp/qorfldrv.o_shipped %s/qorfldrv.o_shipped",
};
// ...and those that take a kernel tree named with KERNEL=.
static const char* const KERNEL_USES[] = {
    "KERNEL=%s ",       "make KERNEL=%s clean> /dev/null", "make KERNEL=%s > /dev/null",
    "%s/include/linux", "%s/include/linux/mm.h",           "cat %s/include/linux/mm.h | grep remap_pfn_range",
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
static bool IsSafeOutputDir(const char* value)
{
    return IsSafePathValue(value, GENDIR_USES, sizeof(GENDIR_USES) / sizeof(GENDIR_USES[0]));
}
static bool IsSafeKernelDir(const char* value)
{
    return IsSafePathValue(value, KERNEL_USES, sizeof(KERNEL_USES) / sizeof(KERNEL_USES[0]));
}
#pragma GCC diagnostic pop

bool BuildQorflDrv(QX3_ARGV_LIST& args)
{
    static char kernelWord[DRV_TEXT_SIZE];
    char* kernel = nullptr;

    // Generate mode only for the exact word at index 1; any other form of
    // it, or a hidden word further on, is served in make mode.
    if (args.size() > 1 && (strcmp(args[1]->text, "/GENDRV") == 0 || strcmp(args[1]->text, "/gendrv") == 0)) {
        generatedrv = 1;
        strcpy(gendir, ".");
    }

    // One option at most, and only at index 2.
    if (args.size() > 2) {
        const char* option = args[2]->text;
        if (strncmp(option, "OUTPUT=", 7) == 0 || strncmp(option, "output=", 7) == 0) {
            // One trailing "/" is dropped; nothing left means here.
            char value[DRV_TEXT_SIZE];
            bool fits = Compose(value, "%s", option + 7);
            size_t len = strlen(value);
            if (len > 0 && value[len - 1] == '/')
                value[len - 1] = '\0';
            if (value[0] == '\0')
                strcpy(value, ".");
            if (!fits || !IsSafeOutputDir(value)) {
                WriteOut("Error: Invalid path.\n");
                generatedrv = 0;
                return false;
            }
            strcpy(gendir, value);
        } else {
            strcpy(gendir, ".");
            if (strncmp(option, "KERNEL=", 7) == 0) {
                char dir[DRV_TEXT_SIZE];
                if (!Compose(dir, "%s", option + 7) || !IsSafeKernelDir(dir)) {
                    WriteOut("Error: Invalid path.\n");
                    generatedrv = 0;
                    return false;
                }
                if (!CheckKernelSource(dir)) {
                    generatedrv = 0;
                    return false;
                }
                Compose(kernelWord, "%s ", option);
                kernel = kernelWord;
            }
        }
    }

    RunCommand("rm -f ./qorfldrv_mod.o");
    CreateDriverSoueceFile(kernel);

    if (generatedrv != 0) {
        if (FileExists("./qorfldrv_mod"))
            RunCommand("rm -f ./qorfldrv_mod");
        generatedrv = 0;
        return true;
    }
    if (FileExists("./qorfldrv_mod")) {
        RunCommand("mv ./qorfldrv_mod ./qorfldrv_mod.o");
        return true;
    }
    return false;
}

// Why no provider of physical buffers could be had: what the start-up and
// the helper module's build and load found on the way, and the lines that
// explain it on standard error. Standard output and the exit status stay as
// they are; scripts rely on them.
#ifndef LOADDIAG_H
#define LOADDIAG_H

#include "driver.h"

// Every line of the explanation starts with this, so that it can be told
// apart from what the tools started by the program print.
#define LOAD_DIAGNOSIS_PREFIX "ZORVIK: "

// Most lines of make's output that are kept from a failed build.
#define BUILD_LOG_TAIL_LINES 10
#define BUILD_LOG_TAIL_SIZE 1024

enum KERNEL_TREE_STATE {
    KERNEL_TREE_FOUND = 0,
    KERNEL_TREE_MISSING,      // no tree for the running release
    KERNEL_TREE_WITHOUT_MM_H, // a tree, but include/linux/mm.h cannot be read
};

// Where the way through the SMI module ended (platform/smidevice.h).
enum SMI_MODULE_STATE {
    SMI_MODULE_NOT_TRIED = 0, // iopl(3) was granted: no need for it
    SMI_MODULE_OPEN,          // the run goes through it
    SMI_MODULE_NOT_INSTALLED, // no device, and modules.dep does not list it
    SMI_MODULE_REJECTED,      // modprobe: the kernel rejected its signature
    SMI_MODULE_LOAD_FAILED,   // installed, but modprobe did not load it
    SMI_MODULE_OPEN_FAILED,   // the device is there but cannot be opened
    SMI_MODULE_TOO_OLD,       // its interface version is below ZORVIK's
};

struct LOAD_DIAGNOSIS {
    int IoplError;                          // errno of a refused iopl(3); 0 when granted
    int SmiModuleState;                     // SMI_MODULE_STATE
    int SmiOpenError;                       // errno of the device's last open
    unsigned int SmiAbiVersion;             // the module's interface version, when too old
    char SmiModprobeMessage[DRV_TEXT_SIZE]; // the last line modprobe wrote on standard error
    bool BuildNeeded;                       // no kept module: one was to be built for the running kernel
    bool KeptModule;                        // ./qorfldrv_mod.o was the module tried
    bool ModuleRefused;                     // insmod ran and the device did not appear
    int TreeState;                          // KERNEL_TREE_STATE of the running kernel's tree
    char Release[DRV_TEXT_SIZE];            // the running release, once known
    char TreeDir[DRV_TEXT_SIZE];            // the tree looked for
    bool BuildFailed;                       // make ran and left no module
    char BuildDir[DRV_TEXT_SIZE];           // where make ran
    char BuildLogTail[BUILD_LOG_TAIL_SIZE]; // its last lines of output
};

extern LOAD_DIAGNOSIS g_LoadDiagnosis;

// Keeps the last lines of a build log in g_LoadDiagnosis.
void KVT_KeepBuildLogTail(const char* path);
// The kernel release a module file was built for, from its "vermagic="
// string, read without any tool. False when the file holds none.
bool KVT_ReadModuleRelease(const char* path, char* release, unsigned int size);
// The kernel's lockdown mode from /sys/kernel/security/lockdown ("none",
// "integrity", ...); empty when the kernel has no such file.
void KVT_ReadLockdownMode(char* mode, unsigned int size);
// Prints one line on standard error for each cause found, in a fixed order.
void KVT_ExplainNoProvider();

#endif

// The helper kernel module "qorfldrv": load, device node and unload of the
// built module, and the file and command helpers its units share. Its
// sources are written by drvtext, built by drvbuild against the tree that
// drvtree finds.
//
// Outside tools are started with system() (popen where their output is read)
// and their exit status is never used: whether a step worked is judged by the
// files it leaves and by the module's line in /proc/devices.
#include "drvshared.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "loaddiag.h"
#include "../framework/GlobalVariable.h"
#include "../firmware/oshook.h"

// Where the device node was made: "qorfl", "/dev/qorfl" or "/qorfl".
static char DrvNode[DRV_TEXT_SIZE];

bool FileExists(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

bool DirectoryOpens(const char* path)
{
    DIR* dir = opendir(path);
    if (dir == nullptr)
        return false;
    closedir(dir);
    return true;
}

bool Compose(char* buf, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buf, DRV_TEXT_SIZE, format, args);
    va_end(args);
    return n >= 0 && n < DRV_TEXT_SIZE;
}

void RunCommand(const char* format, ...)
{
    char cmd[DRV_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(cmd, sizeof(cmd), format, args);
    va_end(args);
    if (n < 0 || n >= (int)sizeof(cmd))
        return;
    if (system(cmd) == -1) {
        // Not looked at: the files the command leaves decide.
    }
}

// The device's mappings still in place. The program makes two (the shared
// buffer is allocated twice and only the second is released); more than fit
// here are not tracked and keep the module loaded until the next run.
#define DEVICE_MAPPING_SLOTS 8

static struct {
    unsigned char* virt;
    unsigned int size;
} DeviceMappings[DEVICE_MAPPING_SLOTS];

void NoteDeviceMapping(unsigned char* virt, unsigned int size)
{
    for (int i = 0; i < DEVICE_MAPPING_SLOTS; i++) {
        if (DeviceMappings[i].virt == nullptr) {
            DeviceMappings[i].virt = virt;
            DeviceMappings[i].size = size;
            return;
        }
    }
}

void ForgetDeviceMapping(unsigned char* virt)
{
    for (int i = 0; i < DEVICE_MAPPING_SLOTS; i++) {
        if (DeviceMappings[i].virt == virt)
            DeviceMappings[i].virt = nullptr;
    }
}

static void ReleaseDeviceMappings()
{
    for (int i = 0; i < DEVICE_MAPPING_SLOTS; i++) {
        if (DeviceMappings[i].virt != nullptr) {
            munmap(DeviceMappings[i].virt, DeviceMappings[i].size);
            DeviceMappings[i].virt = nullptr;
        }
    }
}

// The major of the first /proc/devices line naming "qorfldrv"; `major` is
// left alone when there is none or the file cannot be read.
static bool FindQorflDevice(int& major)
{
    FILE* f = fopen("/proc/devices", "r");
    if (f == nullptr)
        return false;
    char line[DRV_TEXT_SIZE];
    bool found = false;
    while (fgets(line, sizeof(line), f) != nullptr) {
        if (strstr(line, "qorfldrv") != nullptr) {
            major = atoi(line);
            found = true;
            break;
        }
    }
    fclose(f);
    return found;
}

bool CheckQORDevice(int& major, bool report)
{
    FindQorflDevice(major);
    if (major != 0)
        return true;
    if (report)
        WriteOut("ERROR : driver \"qorfldrv\" not found\n");
    RunCommand("rmmod qorfldrv_mod");
    return false;
}

// The node is made for the owner only: it hands out and maps kernel memory
// and masks the keyboard interrupt.
static int MakeNode(int major)
{
    return mknod(DrvNode, S_IFCHR | 0600, makedev((unsigned int)major, 0));
}

// A load that failed leaves no module file behind, as an unload does; the
// next run copies or builds it afresh anyway. A kept module stays.
static int FailLoad()
{
    if (g_LoadDiagnosis.KeptModule && g_LoadDiagnosis.ModuleRefused)
        ReadKernelRelease(g_LoadDiagnosis.Release);
    remove("./qorfldrv_mod");
    return QX3_ERR_LOAD_DRIVER;
}

int FLASH_LoadDriver()
{
    int major = 0;

    // A kept module is used as it is; otherwise one is built now.
    g_LoadDiagnosis.KeptModule = FileExists("./qorfldrv_mod.o");
    g_LoadDiagnosis.BuildNeeded = !g_LoadDiagnosis.KeptModule;
    if (g_LoadDiagnosis.KeptModule)
        RunCommand("cp -f ./qorfldrv_mod.o ./qorfldrv_mod");
    else
        CreateDriverSoueceFile(nullptr);
    if (!FileExists("./qorfldrv_mod"))
        return QX3_ERR_LOAD_DRIVER;

    // The node goes into the current directory when it takes device nodes,
    // else into /dev, else into the root.
    strcpy(DrvNode, "qorfl");
    if (MakeNode(0) != 0) {
        if (DirectoryOpens("/dev"))
            strcpy(DrvNode, "/dev/qorfl");
        else
            strcpy(DrvNode, "/qorfl");
    }
    remove(DrvNode);

    // A module left loaded by an earlier run is removed first.
    if (FindQorflDevice(major))
        RunCommand("rmmod qorfldrv_mod > /dev/null");
    major = 0;

    Fd = open(DrvNode, O_RDWR);
    if (Fd >= 0)
        return 0;

    if (FindQorflDevice(major) && major != 0 && MakeNode(major) == 0) {
        Fd = open(DrvNode, O_RDWR);
        if (Fd >= 0)
            return 0;
    }

    RunCommand("insmod ./qorfldrv_mod 2> /dev/null > /dev/null");
    if (!CheckQORDevice(major, true)) {
        RunCommand("insmod qorfldrv_mod 2> /dev/null > /dev/null");
        if (!CheckQORDevice(major, true)) {
            WriteOut("ERROR : Unable to load driver.\n");
            g_LoadDiagnosis.ModuleRefused = true;
            return FailLoad();
        }
    }

    if (MakeNode(major) != 0) {
        int error = errno;
        WriteOut("ERROR : %X Unable to create node qorfl : %s\n", error, strerror(error));
        remove(DrvNode);
        RunCommand("rmmod qorfldrv_mod");
        return FailLoad();
    }
    Fd = open(DrvNode, O_RDWR);
    if (Fd >= 0)
        return 0;
    int error = errno;
    WriteOut("ERROR : %X Unable to open driver: %s\n", error, strerror(error));
    remove(DrvNode);
    RunCommand("rmmod qorfldrv_mod");
    return FailLoad();
}

void FLASH_UnloadDriver()
{
    if (Fd == 0)
        return;
    // The run is ending: nothing uses the blocks any more, and while one is
    // still mapped the device stays open and rmmod refuses the module.
    ReleaseDeviceMappings();
    close(Fd);
    remove(DrvNode);
    remove("./qorfldrv_mod");
    RunCommand("rmmod qorfldrv_mod");
}

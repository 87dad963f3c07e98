// The SMI module's device as ZORVIK's way to the firmware where iopl(3) is
// refused: opening it (loading the module with modprobe first when needed),
// the requests of its interface, and its buffer as the provider of physical
// buffers. What the module answers is noted for the diagnosis when the way
// is closed.
#include "smidevice.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "loaddiag.h"
#include "../firmware/oshook.h"
#include "../firmware/RuntimeMemoryHole.h"

// The records cross into the kernel: same layout for i386 and x86-64.
static_assert(sizeof(struct zorvik_smi_info) == 16, "zorvik_smi_info must match the module's record");
static_assert(sizeof(struct zorvik_smi_raise) == 8, "zorvik_smi_raise must match the module's record");

#define MODPROBE_LOG_TEMPLATE "/tmp/zorvik-modprobe-XXXXXX"

int gSmiDeviceFd = -1;

// The module's buffer, and the memory hole once a query through the module
// found one: the module sets EBX to the hole when there is one, else to its
// buffer, which is what the allocations of the run hand out.
static uint32_t SmiBufferPhys = 0;
static uint32_t SmiBufferSize = 0;
static uint32_t SmiHolePhys = 0;

// The mapping of the module's buffer.
static PHYS_BUFFER_WINDOW SmiBufferWindow;

static int OpenSmiDevice()
{
    return open(ZORVIK_SMI_DEVICE, O_RDWR | O_CLOEXEC);
}

// No device (no node, or a node without the module behind it).
static bool SmiDeviceMissing(int error)
{
    return error == ENOENT || error == ENODEV || error == ENXIO;
}

// Keeps the last non-empty line of a file (modprobe's complaint).
static void KeepLastLine(const char* path, char* line, unsigned int size)
{
    line[0] = '\0';
    FILE* f = fopen(path, "r");
    if (f == nullptr)
        return;
    char read[DRV_TEXT_SIZE];
    while (fgets(read, sizeof(read), f) != nullptr) {
        read[strcspn(read, "\n")] = '\0';
        if (read[0] != '\0')
            snprintf(line, size, "%s", read);
    }
    fclose(f);
}

// "modprobe zorvik_smi", its standard error kept for the diagnosis.
static void LoadSmiModule()
{
    char log[] = MODPROBE_LOG_TEMPLATE;
    char command[DRV_TEXT_SIZE];
    int fd = mkstemp(log);
    if (fd != -1) {
        close(fd);
        snprintf(command, sizeof(command), "modprobe " ZORVIK_SMI_NAME " > /dev/null 2> %s", log);
    } else {
        snprintf(command, sizeof(command), "modprobe " ZORVIK_SMI_NAME " > /dev/null 2> /dev/null");
    }
    if (system(command) == -1) {
        // Whether the module came is judged by its device.
    }
    g_LoadDiagnosis.SmiModprobeMessage[0] = '\0';
    if (fd != -1) {
        KeepLastLine(log, g_LoadDiagnosis.SmiModprobeMessage, sizeof(g_LoadDiagnosis.SmiModprobeMessage));
        unlink(log);
    }
}

// Whether the running kernel's modules.dep lists the module (an installed
// zorvik-dkms has built it for this kernel).
static bool SmiModuleInstalled()
{
    struct utsname name;
    if (uname(&name) != 0)
        return false;
    char path[DRV_TEXT_SIZE * 2];
    snprintf(path, sizeof(path), "/lib/modules/%s/modules.dep", name.release);
    FILE* f = fopen(path, "r");
    if (f == nullptr)
        return false;
    char line[DRV_TEXT_SIZE * 4];
    bool listed = false;
    while (!listed && fgets(line, sizeof(line), f) != nullptr)
        listed = strstr(line, "/" ZORVIK_SMI_NAME ".ko") != nullptr ||
                 strncmp(line, ZORVIK_SMI_NAME ".ko", sizeof(ZORVIK_SMI_NAME ".ko") - 1) == 0;
    fclose(f);
    return listed;
}

bool SmiDeviceOpen()
{
    LOAD_DIAGNOSIS& d = g_LoadDiagnosis;
    int fd = OpenSmiDevice();
    if (fd == -1 && SmiDeviceMissing(errno)) {
        LoadSmiModule();
        fd = OpenSmiDevice();
    }
    if (fd == -1) {
        d.SmiOpenError = errno;
        if (!SmiDeviceMissing(d.SmiOpenError))
            d.SmiModuleState = SMI_MODULE_OPEN_FAILED;
        else if (strstr(d.SmiModprobeMessage, SMI_KEY_REJECTED_TEXT) != nullptr)
            d.SmiModuleState = SMI_MODULE_REJECTED;
        else if (SmiModuleInstalled())
            d.SmiModuleState = SMI_MODULE_LOAD_FAILED;
        else
            d.SmiModuleState = SMI_MODULE_NOT_INSTALLED;
        return false;
    }

    // A module that cannot say its version is older than the first one.
    struct zorvik_smi_info info;
    memset(&info, 0, sizeof(info));
    if (ioctl(fd, ZORVIK_SMI_IOC_INFO, &info) != 0)
        info.abi_version = 0;
    if (info.abi_version < ZORVIK_SMI_ABI_VERSION) {
        d.SmiModuleState = SMI_MODULE_TOO_OLD;
        d.SmiAbiVersion = info.abi_version;
        close(fd);
        return false;
    }
    SmiBufferPhys = info.buffer_phys;
    SmiBufferSize = info.buffer_size;
    SmiHolePhys = 0;
    gSmiDeviceFd = fd;
    d.SmiModuleState = SMI_MODULE_OPEN;
    return true;
}

void SmiDeviceClose()
{
    if (gSmiDeviceFd != -1)
        close(gSmiDeviceFd);
    gSmiDeviceFd = -1;
}

uint32_t SmiDeviceRaise(unsigned short port, unsigned char code)
{
    struct zorvik_smi_raise request;
    memset(&request, 0, sizeof(request));
    request.port = port;
    request.code = code;
    if (ioctl(gSmiDeviceFd, ZORVIK_SMI_IOC_RAISE, &request) != 0)
        return 0;
    if (code == SMI_GET_MEMORY_HOLE)
        SmiHolePhys = request.ebx;
    return request.ebx;
}

void SmiDeviceSetMailbox()
{
    if (ioctl(gSmiDeviceFd, ZORVIK_SMI_IOC_SET_MAILBOX) != 0) {
        // As a store into the mailbox, it reports nothing.
    }
}

static bool WithinBuffer(uint32_t start, uint32_t size, unsigned int phys, unsigned int len)
{
    return start != 0 && phys >= start && (uint64_t)phys + len <= (uint64_t)start + size;
}

int SmiDeviceWindowProtection(unsigned int phys, unsigned int len)
{
    if (WithinBuffer(SmiHolePhys, ZORVIK_SMI_BUFFER_SIZE, phys, len) ||
        WithinBuffer(SmiBufferPhys, SmiBufferSize, phys, len))
        return PROT_READ | PROT_WRITE;
    return PROT_READ;
}

bool SmiDeviceUseBuffer()
{
    if (SmiBufferPhys == 0 || SmiBufferSize < ZORVIK_SMI_BUFFER_SIZE)
        return false;
    AllocPhyMemImpl = _AllocSmiDeviceBuffer;
    FreePhyMemImpl = _FreeSmiDeviceBuffer;
    return true;
}

bool _AllocSmiDeviceBuffer(unsigned int size, unsigned int* phys, unsigned char** virt)
{
    // A first allocation larger than the buffer maps nothing.
    bool mapped = SmiBufferWindow.Virt != nullptr ||
                  (size <= SmiBufferSize && MapBufferWindow(&SmiBufferWindow, SmiBufferPhys, size));
    *phys = SmiBufferPhys;
    *virt = SmiBufferWindow.Virt;
    return mapped;
}

bool _FreeSmiDeviceBuffer(unsigned int /*phys*/, unsigned int /*size*/)
{
    return UnmapBufferWindow(&SmiBufferWindow);
}

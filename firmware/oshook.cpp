// Memory manager (physical windows, physical buffers, heap blocks), the SMI
// trigger and the operating-system hooks.
#include "oshook.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"
#include "../platform/driver.h"
#include "../platform/smidevice.h"

int FdMem = -1;
int Fd = -1;
ALLOC_PHY_MEM_FUNC AllocPhyMemImpl = _AllocPhyMem;
FREE_PHY_MEM_FUNC FreePhyMemImpl = _FreePhyMem;
uint32_t gIntrBufPhyAddr = 0;
unsigned char* gpIntrBuf = nullptr;
bool gIoPrivilegeGranted = false;

static unsigned int PageSize()
{
    return (unsigned int)sysconf(_SC_PAGESIZE);
}

bool InitMemMgr()
{
    CleanMemMgrHook = CleanMemMgr;
    // Through the SMI module its device serves the windows onto physical
    // memory, at the same offsets (a kernel that refuses iopl refuses
    // /dev/mem too).
    if (gSmiDeviceFd != -1)
        FdMem = fcntl(gSmiDeviceFd, F_DUPFD_CLOEXEC, 0);
    else
        FdMem = open("/dev/mem", O_RDWR | O_SYNC);
    if (FdMem == -1) {
        WriteOut("[ERROR] Sorry, cannot open /dev/mem! Do you have root privilege?\n");
        return false;
    }
    return true;
}

void CleanMemMgr()
{
    if (FdMem != -1)
        close(FdMem);
    FdMem = -1;
}

unsigned char* MapPhyMem(unsigned int phys, unsigned int len)
{
    unsigned int off = phys % PageSize();
    int prot = PROT_READ | PROT_WRITE;
    if (gSmiDeviceFd != -1)
        prot = SmiDeviceWindowProtection(phys, len);
    void* p = mmap(nullptr, (size_t)len + off, prot, MAP_SHARED, FdMem, (off_t)(phys - off));
    if (p == MAP_FAILED)
        return nullptr;
    return (unsigned char*)p + off;
}

bool UnMapPhyMem(unsigned char* virt, unsigned int len)
{
    unsigned int off = (unsigned int)((uintptr_t)virt % PageSize());
    munmap(virt - off, (size_t)len + off);
    return true;
}

bool MapBufferWindow(PHYS_BUFFER_WINDOW* window, unsigned int phys, unsigned int size)
{
    if (window->Virt == nullptr) {
        window->Virt = MapPhyMem(phys, size);
        window->Length = window->Virt != nullptr ? size : 0;
    }
    return window->Virt != nullptr;
}

bool UnmapBufferWindow(PHYS_BUFFER_WINDOW* window)
{
    if (window->Virt == nullptr)
        return false;
    UnMapPhyMem(window->Virt, window->Length);
    window->Virt = nullptr;
    window->Length = 0;
    return true;
}

bool AllocPhyMem(unsigned int size, unsigned int* phys, unsigned char** virt)
{
    return AllocPhyMemImpl(size, phys, virt);
}

bool FreePhyMem(unsigned int phys, unsigned int size)
{
    return FreePhyMemImpl(phys, size);
}

unsigned char* AllocMem(unsigned int size)
{
    return (unsigned char*)calloc(1, size);
}

bool FreeMem(unsigned char* block)
{
    if (block != nullptr)
        free(block);
    return true;
}

// The one-byte port write that raises an SMI: AL the code, EBX the shared
// buffer's physical address, ECX 0 (upper half of a 64-bit address). The
// firmware has answered when the write returns, so memory is clobbered.
// Without I/O privilege the SMI module raises it, when the run goes through
// it; the module sets EBX to the same shared buffer.
void OutPortByte(unsigned short port, unsigned char value)
{
    if (!gIoPrivilegeGranted) {
        if (gSmiDeviceFd != -1)
            SmiDeviceRaise(port, value);
        return;
    }
    uint32_t eax = value;
    uint32_t ebx = gIntrBufPhyAddr;
    uint32_t ecx = 0;
    __asm__ __volatile__("outb %%al, %%dx" : : "a"(eax), "d"(port), "b"(ebx), "c"(ecx) : "memory");
}

uint32_t OutPortByteReadEbx(unsigned short port, unsigned char value)
{
    if (!gIoPrivilegeGranted)
        return gSmiDeviceFd != -1 ? SmiDeviceRaise(port, value) : 0;
    uint32_t eax = value;
    uint32_t ebx = 0;
    uint32_t ecx = 0;
    __asm__ __volatile__("outb %%al, %%dx" : "+b"(ebx) : "a"(eax), "d"(port), "c"(ecx) : "memory");
    return ebx;
}

// The watchdog's value before this run switched it off; 0 when there was
// none, it was off already, or it has been given back.
static long SavedNmiWatchdog = 0;

void OsSetNMI_WatchdogValue()
{
    FILE* f = fopen(NMI_WATCHDOG_PATH, "r");
    if (f == nullptr)
        return;
    long value = 0;
    if (fscanf(f, "%ld", &value) == 1 && value > 0)
        SavedNmiWatchdog = value;
    fclose(f);
    if (system("echo 0 > " NMI_WATCHDOG_PATH) == -1) {
        // The outcome of the command is not looked at.
    }
    sync();
}

void OsRestoreNMI_WatchdogValue()
{
    if (SavedNmiWatchdog <= 0)
        return;
    char command[96];
    snprintf(command, sizeof(command), "echo %ld > " NMI_WATCHDOG_PATH, SavedNmiWatchdog);
    SavedNmiWatchdog = 0;
    if (system(command) == -1) {
        // As when it was switched off, the outcome is not looked at.
    }
    sync();
}

int getch()
{
    struct termios saved;
    struct termios raw;
    tcgetattr(0, &saved);
    raw = saved;
    raw.c_lflag &= ~(ICANON | ECHO);
    tcsetattr(0, TCSANOW, &raw);
    int c = getchar();
    tcsetattr(0, TCSANOW, &saved);
    return c;
}

// Helper-module back end: the module hands out a block of kernel memory on
// CMD_ALLOC and maps its current block, the one allocated last, on mmap.
// One mapping is kept; a release always undoes the latest one.
static unsigned char* VirtualAddr = nullptr;

bool _AllocPhyMem(unsigned int size, unsigned int* phys, unsigned char** virt)
{
    QORFLDRV_ALLOC record;
    memset(&record, 0, sizeof(record));
    record.size = (long)size;
    VirtualAddr = nullptr;
    if (ioctl(Fd, CMD_ALLOC, &record) != 0)
        return false;
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, Fd, 0);
    if (p == MAP_FAILED)
        return false;
    VirtualAddr = (unsigned char*)p;
    NoteDeviceMapping(VirtualAddr, size);
    *phys = (unsigned int)(uintptr_t)record.kphysadd;
    *virt = VirtualAddr;
    return true;
}

bool _FreePhyMem(unsigned int phys, unsigned int size)
{
    if (VirtualAddr == nullptr)
        return true;
    munmap(VirtualAddr, size);
    ForgetDeviceMapping(VirtualAddr);
    QORFLDRV_ALLOC record;
    memset(&record, 0, sizeof(record));
    record.size = (long)size;
    record.kphysadd = (void*)(uintptr_t)phys;
    ioctl(Fd, CMD_FREE, &record);
    VirtualAddr = nullptr;
    return true;
}

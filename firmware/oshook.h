// Memory manager, SMI trigger and operating-system hooks.
#ifndef OSHOOK_H
#define OSHOOK_H

#include <stdint.h>

typedef bool (*ALLOC_PHY_MEM_FUNC)(unsigned int size, unsigned int* phys, unsigned char** virt);
typedef bool (*FREE_PHY_MEM_FUNC)(unsigned int phys, unsigned int size);

extern int FdMem;
extern int Fd;
extern ALLOC_PHY_MEM_FUNC AllocPhyMemImpl;
extern FREE_PHY_MEM_FUNC FreePhyMemImpl;
extern uint32_t gIntrBufPhyAddr;
extern unsigned char* gpIntrBuf;

// Whether iopl(3) was granted at start-up. Without it no port is written:
// a port write without I/O privilege would kill the process.
extern bool gIoPrivilegeGranted;

bool InitMemMgr();
void CleanMemMgr();
unsigned char* MapPhyMem(unsigned int phys, unsigned int len);
bool UnMapPhyMem(unsigned char* virt, unsigned int len);
// A buffer that one provider hands out to every allocation: mapped once,
// with the size of the first allocation, until it is released.
struct PHYS_BUFFER_WINDOW {
    unsigned char* Virt;
    unsigned int Length;
};
// Maps `size` bytes at `phys` unless the window is mapped already; true when
// it is mapped.
bool MapBufferWindow(PHYS_BUFFER_WINDOW* window, unsigned int phys, unsigned int size);
// Releases the whole mapping, whatever size was asked for; false when there
// was none.
bool UnmapBufferWindow(PHYS_BUFFER_WINDOW* window);
bool AllocPhyMem(unsigned int size, unsigned int* phys, unsigned char** virt);
bool FreePhyMem(unsigned int phys, unsigned int size);
unsigned char* AllocMem(unsigned int size);
bool FreeMem(unsigned char* block);

// Helper-module back end (the device's ioctl/mmap protocol).
bool _AllocPhyMem(unsigned int size, unsigned int* phys, unsigned char** virt);
bool _FreePhyMem(unsigned int phys, unsigned int size);

// The port writes that raise SMIs are the hardware seam: C linkage, so that
// the in-process tests replace them at link time by their plain names.
extern "C" {
void OutPortByte(unsigned short port, unsigned char value);
// The memory-hole query's own port write: EBX 0 before, read back after.
uint32_t OutPortByteReadEbx(unsigned short port, unsigned char value);
}
#define NMI_WATCHDOG_PATH "/proc/sys/kernel/nmi_watchdog"
// Switches the NMI watchdog off for the run, remembering a value above 0;
// the restore at shutdown writes that value back.
void OsSetNMI_WatchdogValue();
void OsRestoreNMI_WatchdogValue();
int getch();

#endif

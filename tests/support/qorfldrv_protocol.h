/*
 * The helper module's device protocol as a user-space program sees it: the
 * ioctl codes, the module's limits and the allocation record in the
 * program's own ABI (20 bytes on i386, 40 on x86-64). Shared by the device
 * probes that run under fwemu and on a real kernel.
 */
#ifndef QORFLDRV_PROTOCOL_H
#define QORFLDRV_PROTOCOL_H

#include <stdint.h>

#define CMD_ALLOC 0x4160
#define CMD_FREE 0x4161
#define CMD_LOCK_KB 0x4162
#define CMD_UNLOCK_KB 0x4163

#define PAGE 4096
#define MAX_BLOCK (128 * 1024)
#define TABLE_SIZE 128

typedef struct tagQORFLDRV_ALLOC {
    long size;
    unsigned long kvirtlen;
    void* kmallocptr;
    void* kvirtadd;
    void* kphysadd;
} QORFLDRV_ALLOC;

_Static_assert(sizeof(QORFLDRV_ALLOC) == 5 * sizeof(long), "record layout");

/* Values put into the fields the module must hand back untouched. */
#define SENTINEL_LEN ((unsigned long)0x5a5a5a5aUL)
#define SENTINEL_PTR ((void*)(uintptr_t)0x3c3c3000UL)

#endif

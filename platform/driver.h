// The helper kernel module "qorfldrv": the text of its sources and Makefiles
// (drvtext), their build against a kernel tree (drvtree, drvbuild), the
// rebuildable package of "/gendrv", and the load, device node and unload of
// the built module (driver).
#ifndef DRIVER_H
#define DRIVER_H

#include <stdio.h>

#include "../framework/QX3Types.h"

// Requests of the module's device (plain numbers, as in the generated
// qorfldrv.h).
#define CMD_ALLOC 0x4160
#define CMD_FREE 0x4161
#define CMD_LOCK_KB 0x4162
#define CMD_UNLOCK_KB 0x4163

// The record of CMD_ALLOC and CMD_FREE, laid out as the generated qorfldrv.h
// declares it for the same ABI: five machine words.
typedef struct tagQORFLDRV_ALLOC {
    long size;              // bytes wanted (CMD_ALLOC)
    unsigned long kvirtlen; // the module's own
    void* kmallocptr;       // the module's own
    void* kvirtadd;         // reply: kernel virtual address of the block
    void* kphysadd;         // reply: physical address; CMD_FREE: block to free
} QORFLDRV_ALLOC;

static_assert(sizeof(QORFLDRV_ALLOC) == (sizeof(long) == 8 ? 40 : 20), "QORFLDRV_ALLOC must match the module's record");

// Size of every text buffer of this unit: paths and composed command lines.
#define DRV_TEXT_SIZE 128

extern int generatedrv;            // 1 while "/gendrv" is being served
extern char gendir[DRV_TEXT_SIZE]; // output directory of the package

// Serves "/makedrv" and "/gendrv": true when the request was served.
// True when something exists at path (a file, directory or device).
bool FileExists(const char* path);
bool BuildQorflDrv(QX3_ARGV_LIST& args);
// Copies a kept module or builds one, loads it and opens its device node into
// Fd: 0 on success, else 16.
int FLASH_LoadDriver();
// Closes the device, removes the node and the module file, unloads the module.
void FLASH_UnloadDriver();

// Mappings of the device's blocks that the memory manager made and has not
// released. A mapping holds the device open, and an open device cannot be
// unloaded, so the unload releases what is left of them first.
void NoteDeviceMapping(unsigned char* virt, unsigned int size);
void ForgetDeviceMapping(unsigned char* virt);

// Writes the sources into .temp and builds them. `kernel` is "KERNEL=<dir> "
// (the trailing space is dropped here) or null for the running kernel.
void CreateDriverSoueceFile(char* kernel);
// Exports the package into gendir after a build, when "/gendrv" asked for it.
void GenerateDriverSoueceFile(char* kernel);
// True when <dir>/include/linux and /usr/bin/gcc exist; prints why not.
bool CheckKernelSource(char* dir);
// Looks "qorfldrv" up in /proc/devices; true when a major is known.
bool CheckQORDevice(int& major, bool report);

// The sources' text: WriteDriverSourceFiles, WriteBuildMakefile,
// WritePackageMakefile.
#include "drvtext.h"

#endif

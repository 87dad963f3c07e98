// Start-up and shutdown of the Linux platform layer.
#ifndef PLATFORMLNX_H
#define PLATFORMLNX_H

#include <stddef.h>

#include "../framework/QX3Types.h"

// A provider of physical buffers: argument list, count of loaders that have
// already succeeded; true when this provider is now active.
typedef bool (*PLATFORM_LOADER)(QX3_ARGV_LIST& args, unsigned int loaded);
typedef void (*PLATFORM_UNLOADER)(QX3_ARGV_LIST& args);

extern PLATFORM_LOADER RuntimeMemoryHoleLoader;
extern PLATFORM_LOADER DefaultDriverLoader;
extern PLATFORM_UNLOADER RuntimeMemoryHoleUnloader;
extern PLATFORM_UNLOADER DefaultDriverUnloader;

int PlatformInitialize(QX3_ARGV_LIST& args);
[[noreturn]] void PlatformFinalize(QX3_ARGV_LIST& args);
char* GetCurrentFilePath(int argc, char* path);
// The first executable regular file `name` in the directories of PATH (an
// empty entry is the current directory), composed into `found`.
bool FindOnSearchPath(const char* name, char* found, size_t foundSize);

#endif

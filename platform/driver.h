// Generation, build and load of the helper kernel module, and its device node.
#ifndef DRIVER_H
#define DRIVER_H

#include "../framework/QX3Types.h"

// Serves "/makedrv" and "/gendrv": true when the build or export succeeded.
bool BuildQorflDrv(QX3_ARGV_LIST& args);
// Builds if needed, loads and opens the helper module: 0 on success.
int FLASH_LoadDriver();
int FLASH_UnloadDriver();

#endif

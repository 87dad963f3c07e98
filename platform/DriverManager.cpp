// The helper module as the default provider of physical buffers.
#include "DriverManager.h"

#include "driver.h"

// True only after this run loaded and opened the helper module.
static bool DriverInstalled = false;

bool QX3_LinuxDriverLoader(QX3_ARGV_LIST& /*args*/, unsigned int loaded)
{
    DriverInstalled = false;
    if (loaded != 0)
        return false;
    DriverInstalled = (FLASH_LoadDriver() == 0);
    return DriverInstalled;
}

void QX3_LinuxDriverUnloader(QX3_ARGV_LIST& /*args*/)
{
    if (DriverInstalled)
        FLASH_UnloadDriver();
}

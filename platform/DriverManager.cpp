// The helper module as the default provider of physical buffers; on the
// way through the SMI module, that module's own buffer.
#include "DriverManager.h"

#include "driver.h"
#include "smidevice.h"

// True only after this run loaded and opened the helper module.
static bool DriverInstalled = false;

bool QX3_LinuxDriverLoader(QX3_ARGV_LIST& /*args*/, unsigned int loaded)
{
    DriverInstalled = false;
    if (loaded != 0)
        return false;
    // Through the SMI module its own buffer stands in for the helper
    // module's blocks: the helper module is neither built nor loaded.
    if (gSmiDeviceFd != -1)
        return SmiDeviceUseBuffer();
    DriverInstalled = (FLASH_LoadDriver() == 0);
    return DriverInstalled;
}

void QX3_LinuxDriverUnloader(QX3_ARGV_LIST& /*args*/)
{
    if (DriverInstalled)
        FLASH_UnloadDriver();
    // The SMI module stays loaded; this run lets go of its device.
    SmiDeviceClose();
}

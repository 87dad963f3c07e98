// A firmware that announces an "$ASF" data area expects the shared buffer's
// physical address there before the flash-information, closing and
// secure-flash SMIs.
#include "shadowifc.h"

#include <stdint.h>
#include <string.h>

#include "biosinfo.h"
#include "oshook.h"
#include "../platform/smidevice.h"

void ShadowFlash()
{
    if (g_ASFData == nullptr)
        return;
    // Through the SMI module the BIOS area is mapped read-only and the
    // module writes the same address into the same data area.
    if (gSmiDeviceFd != -1) {
        SmiDeviceSetMailbox();
        return;
    }
    uint32_t address = gIntrBufPhyAddr;
    memcpy(g_ASFData, &address, sizeof(address));
}

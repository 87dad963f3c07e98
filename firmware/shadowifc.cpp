// A firmware that announces an "$ASF" data area expects the shared buffer's
// physical address there before the flash-information, closing and
// secure-flash SMIs.
#include "shadowifc.h"

#include <stdint.h>
#include <string.h>

#include "biosinfo.h"
#include "oshook.h"

void ShadowFlash()
{
    if (g_ASFData == nullptr)
        return;
    uint32_t address = gIntrBufPhyAddr;
    memcpy(g_ASFData, &address, sizeof(address));
}

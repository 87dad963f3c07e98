// Flash-interface SMIs. Each write carries the shared buffer's physical
// address; the firmware has answered in the buffer when it returns.
#include "smiifc.h"

#include "biosinfo.h"
#include "oshook.h"

void SMI_EnableFlash()
{
    OutPortByte(gSmiPort, SMI_ENABLE_FLASH);
}

void SMI_GetFlashInfo()
{
    OutPortByte(gSmiPort, SMI_GET_FLASH_INFO);
}

void SMI_DisableFlash()
{
    OutPortByte(gSmiPort, SMI_DISABLE_FLASH);
}

void SMI_OemSmi(unsigned char code)
{
    OutPortByte(gSmiPort, code);
}

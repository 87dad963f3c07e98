// SMI flash interface. It is opened once per run by the BIOS information
// module, stays open while the commands run, and is closed at shutdown by
// the first clean-up hook, only when it was really opened.
#include "flashifc.h"

#include "oshook.h"
#include "shadowifc.h"
#include "smiifc.h"
#include "../framework/Main.h"

bool SmiFlashEnabled = false;

int EnableFlashIfc()
{
    CleanFlashIfcHook = CleanFlashIfc;
    gpIntrBuf[FLASH_OPEN_STATUS_OFFSET] = 0;
    SMI_EnableFlash();
    switch (gpIntrBuf[FLASH_OPEN_STATUS_OFFSET]) {
    case FLASH_OPEN_WRITE_PROTECTED:
        return QX3_ERR_WRITE_PROTECTED;
    case FLASH_OPEN_NO_POWER_CORD:
        return QX3_ERR_POWER_CORD;
    case FLASH_OPEN_PLATFORM_CONDITION:
        return QX3_ERR_PLATFORM_CONDITION;
    default:
        SmiFlashEnabled = true;
        return 0;
    }
}

// The firmware answers in place of the request head; an answer in the
// latest layout is taken whatever its status byte says.
int GetFlashInfo(sROMInfo** info)
{
    sROMInfo* head = (sROMInfo*)gpIntrBuf;
    *info = head;
    head->Size = SMI_BUFFER_SIZE;
    head->Status = 1;
    ShadowFlash();
    SMI_GetFlashInfo();
    if (head->Status != 0 && head->Version != ROM_INFO_LATEST_LAYOUT)
        return QX3_ERR_GET_FLASH_INFO;
    return 0;
}

void CleanFlashIfc()
{
    if (SmiFlashEnabled) {
        ShadowFlash();
        SMI_DisableFlash();
    }
    SmiFlashEnabled = false;
}

void CallOemSmi(unsigned char code)
{
    SMI_OemSmi(code);
}

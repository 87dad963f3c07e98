// Secure-flash policy request: one DORE request with a single type 0x70
// record, answered in the area right behind its end marker.
#include "secureflashlib.h"

#include <string.h>

#include "biosinfo.h"
#include "dore_cfg.h"
#include "oshook.h"
#include "shadowifc.h"
#include "smiifc.h"
#include "../framework/GlobalVariable.h"

// Builds the request in the cleared shared buffer; null when there is none.
unsigned char* DOREHeaderGen(unsigned char subFunction)
{
    if (gpIntrBuf == nullptr)
        return nullptr;
    unsigned char* buffer = gpIntrBuf;
    MemSet(buffer, 0, SMI_BUFFER_SIZE);
    Dore_Desc_Header(buffer, DORE_FUNCTION_SECURE_FLASH);
    Dore_Ext_Header(buffer, DORE_TYPE_SECURE_FLASH, 1);
    unsigned int record = ((DORE_DESC_HEADER*)buffer)->RunningOffset;
    Dore_TC_End_Header(buffer, DORE_TYPE_SECURE_FLASH, 1);
    buffer[record] = subFunction;
    return buffer;
}

void SWSMI_SECFLASH()
{
    ShadowFlash();
    OutPortByte(gSmiPort, SMI_OEM_DORE);
}

// Prints the text the firmware attached to its answer. The text starts at
// the running offset as the firmware left it and is read within the shared
// buffer only: one without a terminator ends at the buffer's end.
void DORE_Message()
{
    const DORE_DESC_HEADER* desc = (const DORE_DESC_HEADER*)gpIntrBuf;
    if ((desc->Status & DORE_STATUS_MESSAGE) == 0)
        return;
    unsigned int start = desc->RunningOffset;
    const char* text = (const char*)gpIntrBuf + start;
    size_t length = strnlen(text, SMI_BUFFER_SIZE - start);
    if (length != 0)
        WriteOut(" - %.*s \n", (int)length, text);
}

bool DORE_GetSupportedPolicy(FLASH_POLICY_INFO_BLOCK* block)
{
    unsigned char* buffer = DOREHeaderGen(DORE_SECURE_FLASH_GET_POLICY);
    if (buffer == nullptr)
        return false;
    FLASH_POLICY_INFO_BLOCK* answer = (FLASH_POLICY_INFO_BLOCK*)(buffer + ((DORE_DESC_HEADER*)buffer)->RunningOffset);
    answer->Status = FLASH_POLICY_PENDING;
    SWSMI_SECFLASH();
    DORE_Message();
    if (answer->Status != 0)
        return false;
    memcpy(block, answer, sizeof(*block));
    return true;
}

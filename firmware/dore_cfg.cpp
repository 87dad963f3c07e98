// DORE request builder and protocol version. The running offset in the
// descriptor tells each builder step where its header goes.
#include "dore_cfg.h"

#include <string.h>

#include "flashifc.h"
#include "oshook.h"
#include "smiifc.h"
#include "../framework/QX3Types.h"

uint16_t g_DoreVer = 0;
const DORE_PLATFORM_TYPE g_PlatformType = {DORE_PLATFORM_TYPE_CODE};

struct DORE_TYPE_SIZE {
    unsigned char Type;
    uint16_t Size;
};

static const DORE_TYPE_SIZE DoreTypeSizes[] = {
    {0x50, 20}, {0x51, 8}, {0x52, 4},  {0x53, 14}, {0x54, 11}, {0x56, 2},
    {0x57, 12}, {0x58, 4}, {0x5A, 20}, {0x5B, 2},  {0x5C, 68}, {0x70, 2},
};

bool Dore_RecordSize(unsigned char type, uint16_t* size)
{
    if (type == 0x55) {
        *size = Dore_GetVer() > DORE_TYPE_55_GROWN_AFTER ? 30 : 18;
        return true;
    }
    for (const DORE_TYPE_SIZE& entry : DoreTypeSizes) {
        if (entry.Type == type) {
            *size = entry.Size;
            return true;
        }
    }
    return false;
}

// The status word is left as the cleared buffer has it.
void Dore_Desc_Header(unsigned char* buffer, unsigned int functionBit)
{
    DORE_DESC_HEADER* desc = (DORE_DESC_HEADER*)buffer;
    desc->Signature = DORE_SIGNATURE;
    desc->Version = g_DoreVer;
    desc->RunningOffset = sizeof(DORE_DESC_HEADER);
    desc->FunctionBit = functionBit;
    desc->DescSize = sizeof(DORE_DESC_HEADER);
    desc->PlatformType = g_PlatformType.Code;
}

// A type without records keeps the size field as it was.
void Dore_Ext_Header(unsigned char* buffer, unsigned char type, unsigned char count)
{
    DORE_DESC_HEADER* desc = (DORE_DESC_HEADER*)buffer;
    DORE_EXT_HEADER* ext = (DORE_EXT_HEADER*)(buffer + desc->RunningOffset);
    ext->Type = type;
    ext->Count = count;
    uint16_t size;
    if (Dore_RecordSize(type, &size))
        ext->RecordSize = size;
    desc->RunningOffset += sizeof(DORE_EXT_HEADER);
}

// Steps over the data records the caller wrote and closes the request.
void Dore_TC_End_Header(unsigned char* buffer, unsigned char type, unsigned char count)
{
    DORE_DESC_HEADER* desc = (DORE_DESC_HEADER*)buffer;
    uint16_t size;
    if (Dore_RecordSize(type, &size))
        desc->RunningOffset += count * size;
    DORE_END_HEADER* end = (DORE_END_HEADER*)(buffer + desc->RunningOffset);
    end->Marker = DORE_END_MARKER;
    desc->RunningOffset += sizeof(DORE_END_HEADER);
}

// A firmware without DORE support leaves the version 0, so it is asked again.
uint16_t Dore_GetVer()
{
    if (g_DoreVer == 0)
        Dore_VersionCheck();
    return g_DoreVer;
}

int Dore_VersionCheck()
{
    g_DoreVer = 0;
    unsigned char* block = AllocMem(DORE_VERSION_BLOCK_SIZE);
    if (block == nullptr)
        return QX3_ERR_ALLOC_MEM;
    memset(block, 0, DORE_VERSION_REQUEST_SIZE);
    Dore_Desc_Header(block, DORE_FUNCTION_VERSION);
    Dore_Ext_Header(block, DORE_TYPE_VERSION, 1);
    Dore_TC_End_Header(block, DORE_TYPE_VERSION, 1);
    memcpy(gpIntrBuf, block, DORE_VERSION_REQUEST_SIZE);
    FreeMem(block);
    Dore_SMI_26();

    const DORE_DESC_HEADER* answer = (const DORE_DESC_HEADER*)gpIntrBuf;
    if ((answer->Status & DORE_STATUS_HANDLED) == 0)
        return 0;
    if (answer->Status & DORE_STATUS_ERROR)
        return QX3_ERR_BIOS_REPORT;
    g_DoreVer = answer->Version;
    return 0;
}

void Dore_SMI_26()
{
    CallOemSmi(SMI_OEM_DORE);
}

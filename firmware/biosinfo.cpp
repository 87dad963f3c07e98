// BIOS information module, the first module of every run. Registration finds
// the SMI command port and allocates the shared SMI buffer; execution opens
// the flash interface and keeps a copy of the flash information; clean-up
// releases the buffer and the BIOS-area window.
#include "biosinfo.h"

#include <string.h>

#include "acpihelperlnx.h"
#include "flashifc.h"
#include "oshook.h"
#include "UniversalPlatform.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterInitBiosInfoQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM InitBiosInfoQueueItem;

uint16_t gSmiPort = 0;
unsigned char* m_BIOSBuf = nullptr;
unsigned char* g_ASFData = nullptr;
sROMInfo* gpFlashInfo = nullptr;
uint32_t gRomSize = 0;
unsigned char m_FlashChipName[FLASH_CHIP_NAME_SIZE];
uint8_t g_OnBoardROMProjectIDLength = 0;
bool g_OnBoardRomIsVeltoV = false;

// The port of the flash-interface SMIs: the FADT's, else the one of the first
// "$ASF" structure of the BIOS area (whose data area then receives the
// shared buffer's address before the SMIs) unless it names port 0, else the
// default port. The BIOS-area window stays mapped for that data area.
uint16_t GetSystemSmiPort()
{
    if (QX3_GetAcpiSmiPort(&gSmiPort) == 0)
        return gSmiPort;

    m_BIOSBuf = MapPhyMem(BIOS_AREA_PHYS, BIOS_AREA_SIZE);
    if (m_BIOSBuf == nullptr)
        return DEFAULT_SMI_PORT;

    for (unsigned int off = 0; off <= ASF_LAST_OFFSET; off++) {
        if (memcmp(m_BIOSBuf + off, ASF_SIGNATURE, 4) != 0)
            continue;
        ASF_HEADER header;
        memcpy(&header, m_BIOSBuf + off, sizeof(header));
        // Port 0 is no port (as in the FADT): the default port is used and
        // the structure's data area is not written.
        if (header.SmiPort == 0)
            break;
        // The data area takes a 32-bit address; one that would reach past
        // the window is not used.
        unsigned int data = off + header.DataOffset;
        g_ASFData = data + sizeof(uint32_t) <= BIOS_AREA_SIZE ? m_BIOSBuf + data : nullptr;
        return header.SmiPort;
    }
    g_ASFData = nullptr;
    return DEFAULT_SMI_PORT;
}

// The flash part's name follows the first "$FPS" record. Only the bytes
// within the buffer are taken; the rest of the name stays zero.
void GetSystemFlashChipID(unsigned char* buffer, unsigned int size)
{
    memset(m_FlashChipName, 0, sizeof(m_FlashChipName));
    for (unsigned int i = 0; i + 4 < size; i++) {
        if (memcmp(buffer + i, "$FPS", 4) != 0)
            continue;
        unsigned int name = i + FPS_NAME_DISTANCE;
        if (name < size) {
            unsigned int n = size - name < FLASH_CHIP_NAME_SIZE ? size - name : FLASH_CHIP_NAME_SIZE;
            memcpy(m_FlashChipName, buffer + name, n);
        }
        return;
    }
}

// The project-identifier length and its "V" mark follow the first "$BPT".
void GetSystemROMIDLength(unsigned char* buffer, unsigned int size)
{
    g_OnBoardROMProjectIDLength = PROJECT_ID_LENGTH_UNKNOWN;
    for (unsigned int i = 0; i + 4 < size; i++) {
        if (memcmp(buffer + i, "$BPT", 4) != 0)
            continue;
        g_OnBoardROMProjectIDLength = buffer[i + BPT_LENGTH_DISTANCE];
        g_OnBoardRomIsVeltoV = false;
        if (i + 5 < size && buffer[i + 5] == 'V')
            g_OnBoardRomIsVeltoV = true;
        return;
    }
}

// Keeps a heap copy of the flash information in the newer layout, whatever
// layout the firmware answered in. The copy has room for one entry more
// than announced. info is the start of the shared buffer: entries that the
// block count announces beyond the buffer's end are not read and stay zero
// in the copy.
int CopyBiosInfoToAnotherBuffer(sROMInfo* info)
{
    unsigned int n = info->BlockCount;
    unsigned int copySize = ROM_INFO_ENTRIES_OFFSET + sizeof(FLASH_BLOCK_ENTRY) * (n + 1);
    unsigned char* copy = AllocMem(copySize);
    if (copy == nullptr)
        return QX3_ERR_ALLOC_MEM;
    FreeMem((unsigned char*)gpFlashInfo);
    gpFlashInfo = (sROMInfo*)copy;

    const unsigned char* answer = (const unsigned char*)info;
    if (info->Version > ROM_INFO_OLD_LAYOUT_LAST) {
        unsigned int take = copySize < SMI_BUFFER_SIZE ? copySize : SMI_BUFFER_SIZE;
        memcpy(copy, answer, take);
    } else {
        gpFlashInfo->Size = info->Size;
        gpFlashInfo->Status = info->Status;
        gpFlashInfo->BlockCount = info->BlockCount;
        gpFlashInfo->Version = info->Version;
        unsigned int entries = sizeof(FLASH_BLOCK_ENTRY) * n;
        unsigned int room = SMI_BUFFER_SIZE - ROM_INFO_OLD_ENTRIES_OFFSET;
        memcpy(copy + ROM_INFO_ENTRIES_OFFSET, answer + ROM_INFO_OLD_ENTRIES_OFFSET, entries < room ? entries : room);
    }
    return 0;
}

uint32_t CalculateRomSize()
{
    uint32_t total = 0;
    const unsigned char* entry = (const unsigned char*)gpFlashInfo + ROM_INFO_ENTRIES_OFFSET;
    for (unsigned int i = 0; i < gpFlashInfo->BlockCount; i++) {
        const FLASH_BLOCK_ENTRY* block = (const FLASH_BLOCK_ENTRY*)(entry + i * sizeof(FLASH_BLOCK_ENTRY));
        total += block->Size;
    }
    return total;
}

// Runs after the memory manager has closed; neither release needs it.
void CleanBiosInfo()
{
    if (m_BIOSBuf != nullptr)
        UnMapPhyMem(m_BIOSBuf, BIOS_AREA_SIZE);
    if (gpFlashInfo != nullptr)
        FreeMem((unsigned char*)gpFlashInfo);
    if (gIntrBufPhyAddr != 0)
        FreePhyMem(gIntrBufPhyAddr, SMI_BUFFER_SIZE);
    m_BIOSBuf = nullptr;
    g_ASFData = nullptr;
    gpFlashInfo = nullptr;
    gIntrBufPhyAddr = 0;
    gpIntrBuf = nullptr;
}

static int ParsingCommandFunction(QX3_ARGV_LIST& /*args*/, QX3_QUEUE_ITEM* /*self*/)
{
    return 0;
}

static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    int result = EnableFlashIfc();
    if (result != 0)
        return result;
    sROMInfo* info = nullptr;
    result = GetFlashInfo(&info);
    if (result != 0)
        return result;
    GetSystemFlashChipID(gpIntrBuf, SMI_BUFFER_SIZE);
    GetSystemROMIDLength(gpIntrBuf, SMI_BUFFER_SIZE);
    result = CopyBiosInfoToAnotherBuffer(info);
    if (result != 0)
        return result;
    gRomSize = CalculateRomSize();
    return 0;
}

static void CommandHelp(bool /*headerPass*/)
{
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &InitBiosInfoQueueItem, MODULE_ID_BIOS_INFO, 0x4000, true, ParsingCommandFunction,
                      ExecutionActionFunction, CommandHelp);
    CleanBiosInfoHook = CleanBiosInfo;

    gSmiPort = GetSystemSmiPort();
    if (!AllocPhyMem(SMI_BUFFER_SIZE, &gIntrBufPhyAddr, &gpIntrBuf))
        return QX3_ERR_ALLOC_BIOS_BUF;
    MemSet(gpIntrBuf, 0, SMI_BUFFER_SIZE);
    return 0;
}

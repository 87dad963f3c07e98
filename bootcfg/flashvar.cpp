// The firmware calling interface of the boot configuration commands and the
// helpers that the command modules share.
#include "flashvar.h"

#include <string.h>

#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"

uint16_t SMIPort = 0;
uint8_t SMIFunNum = 0;
SMI_CMD_BUFFER* pCmdBuf = nullptr;
uint32_t SecurityKey = 0;

bool GetBootOrderFlag = false;
bool SetFirstBootOrderFlag = false;
bool GetBootOptionFlag = false;
bool AddBootOptionFlag = false;
bool DelBootOptionFlag = false;
bool SetFirstBootOptionFlag = false;
bool SetSecureBootFlag = false;

// Raises the SMI; the firmware has answered when the write returns. With no
// port set nothing is written and the request stays unhandled.
int DispatchSMIPort(uint16_t port, uint8_t code)
{
    if (port != 0)
        OutPortByte(port, code);
    return 0;
}

// Fills the request block at the start of the shared buffer, presets the
// answer (status "not handled", results 0) and raises the SMI. The payload
// area behind the block is left as the caller prepared it.
int SetInterface(uint16_t cls, uint16_t sel, uint32_t in0, uint32_t in1, uint32_t in2, uint32_t in3)
{
    pCmdBuf = (SMI_CMD_BUFFER*)gpIntrBuf;
    pCmdBuf->Class = cls;
    pCmdBuf->Select = sel;
    pCmdBuf->Input[0] = in0;
    pCmdBuf->Input[1] = in1;
    pCmdBuf->Input[2] = in2;
    pCmdBuf->Input[3] = in3;
    pCmdBuf->Output[0] = SMI_STATUS_NOT_HANDLED;
    pCmdBuf->Output[1] = 0;
    pCmdBuf->Output[2] = 0;
    pCmdBuf->Output[3] = 0;
    return DispatchSMIPort(SMIPort, SMIFunNum);
}

// Firmwares encode the boot mode in one of two ways; the answer to 99/24
// tells which. Its Output[0] is a value here, not a status.
int AskModeEncoding(BOOT_MODE_VALUES* values)
{
    int result = SetInterface(SMI_CLASS_OEM, SMI_SELECT_MODE_ENCODING, 0, 0, 0, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] == 1) {
        values->Legacy = 1;
        values->Uefi = 2;
    } else {
        values->Legacy = 0;
        values->Uefi = 1;
    }
    return 0;
}

// The boot-mode gate: the boot order commands run only in legacy mode, the
// boot option commands and SetSecureBoot only in UEFI mode.
int AskBootMode()
{
    BOOT_MODE_VALUES mode;
    int result = AskModeEncoding(&mode);
    if (result != 0)
        return result;

    result = SetInterface(SMI_CLASS_GET_SETTING, SMI_SELECT_SETTING, SETTING_BOOT_MODE, 0, 0, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return QX3_ERR_GET_MODE;

    uint32_t current = pCmdBuf->Output[1];
    if (current == mode.Legacy) {
        bool legacyCommand = GetBootOrderFlag || SetFirstBootOrderFlag;
        if (!legacyCommand)
            return QX3_ERR_ONLY_UEFI;
        return 0;
    }
    if (current == mode.Uefi) {
        bool uefiCommand = GetBootOptionFlag || AddBootOptionFlag || DelBootOptionFlag ||
                           SetFirstBootOptionFlag || SetSecureBootFlag;
        if (!uefiCommand)
            return QX3_ERR_ONLY_LEGACY;
        return 0;
    }
    return QX3_ERR_GET_MODE;
}

// A command word starts with "-" or "/".
bool IsSwitchWord(const char* word)
{
    char first[2] = {word[0], '\0'};
    return IdentifyArg(first, "-", true) || IdentifyArg(first, "/", true);
}

// The word is "-" or "/" followed by the long or the short command word, in
// any letter case. shortWord may be null.
bool MatchCommandWord(const char* word, const char* longWord, const char* shortWord)
{
    if (!IsSwitchWord(word))
        return false;
    if (IdentifyArg(word + 1, longWord, true))
        return true;
    return shortWord != nullptr && IdentifyArg(word + 1, shortWord, true);
}

// Copies a command-line word into a fixed text area: at most areaSize - 1
// characters, the rest of the area zero. Returns whether the whole word fit.
bool CopyCommandWord(char* area, unsigned int areaSize, const char* word)
{
    if (area == nullptr || areaSize == 0)
        return false;
    MemSet(area, 0, areaSize);
    unsigned int length = StringLength(word);
    unsigned int copied = length < areaSize ? length : areaSize - 1;
    MemCpy(area, word, copied);
    return length < areaSize;
}

// The command name of a help line: the long word in capitals, in a zeroed
// buffer of COMMAND_NAME_BUFFER bytes.
void UpperCommandName(char* buffer, const char* command)
{
    CopyCommandWord(buffer, COMMAND_NAME_BUFFER, command);
    StrToUpper(buffer);
}

// Claims a label or path word for a boot option text area
// (BOOT_OPTION_TEXT_AREA bytes). A word longer than maxLength is refused: it
// stays unclaimed, so the command line is rejected and nothing is sent.
bool TakeTextWord(QX3_ARGV_ITEM* item, char* area, unsigned int maxLength)
{
    if (StringLength(item->text) > maxLength)
        return false;
    if (!CopyCommandWord(area, BOOT_OPTION_TEXT_AREA, item->text))
        return false;
    item->consumed = true;
    return true;
}

// Reads the name of one device from the description window: at most
// BBS_NAME_MAX characters and never past the window's end. An empty
// description is shown as "Unknown".
static void ReadDescription(const unsigned char* window, unsigned int offset, char* name)
{
    unsigned int length = 0;
    while (length < BBS_NAME_MAX && offset + length < BBS_DESCRIPTION_WINDOW &&
           window[offset + length] != 0) {
        name[length] = (char)window[offset + length];
        length++;
    }
    name[length] = '\0';
    if (length == 0)
        strcpy(name, "Unknown");
}

// Asks the firmware for the legacy boot devices (3/2 for the count, 3/3 for
// the priority list, the IPL table and the skip list in the shared buffer)
// and builds their names. An answer that does not fit the buffer's places or
// names a device that does not exist ends with 216 before anything else is
// sent, so the firmware's order is left alone.
int ReadBbsDevices(BBS_DEVICE_TABLE* table)
{
    table->Count = 0;

    int result = SetInterface(SMI_CLASS_BBS, SMI_SELECT_BBS_DEVICE_COUNT, 0, 0, 0, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return QX3_ERR_GET_BBS_IPL_TABLE;
    unsigned int count = pCmdBuf->Output[1] & 0xFF;
    if (count > BBS_MAX_DEVICES)
        return QX3_ERR_GET_BBS_IPL_TABLE;

    uint32_t skipList = gIntrBufPhyAddr + BBS_IPL_TABLE_OFFSET + sizeof(BIOS_IPL_ENTRY) * count;
    result = SetInterface(SMI_CLASS_BBS, SMI_SELECT_BBS_IPL_DATA, gIntrBufPhyAddr + SMI_PAYLOAD_OFFSET,
                          gIntrBufPhyAddr + BBS_IPL_TABLE_OFFSET, skipList, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return QX3_ERR_GET_BBS_IPL_TABLE;

    const uint8_t* priority = gpIntrBuf + SMI_PAYLOAD_OFFSET;
    for (unsigned int p = 0; p < count; p++) {
        if (priority[p] >= count)
            return QX3_ERR_GET_BBS_IPL_TABLE;
    }
    if (count == 0)
        return 0;

    // All description strings are read through one window, opened at the
    // segment of the first entry.
    BIOS_IPL_ENTRY entry;
    memcpy(&entry, gpIntrBuf + BBS_IPL_TABLE_OFFSET, sizeof(entry));
    unsigned char* window = MapPhyMem((uint32_t)entry.DescStringSegment * 16, BBS_DESCRIPTION_WINDOW);
    if (window == nullptr)
        return QX3_ERR_GET_BBS_IPL_TABLE;
    for (unsigned int k = 0; k < count; k++) {
        memcpy(&entry, gpIntrBuf + BBS_IPL_TABLE_OFFSET + sizeof(BIOS_IPL_ENTRY) * k, sizeof(entry));
        ReadDescription(window, entry.DescStringOffset, table->Name[k]);
    }
    UnMapPhyMem(window, BBS_DESCRIPTION_WINDOW);

    table->Count = count;
    return 0;
}

// The first device, in IPL-table order, whose whole name begins the word
// (letter case counts); -1 when none does.
int FindBbsDevice(const BBS_DEVICE_TABLE* table, const char* word)
{
    for (unsigned int k = 0; k < table->Count; k++) {
        const char* name = table->Name[k];
        unsigned int i = 0;
        while (name[i] != '\0' && word[i] == name[i])
            i++;
        if (name[i] == '\0')
            return (int)k;
    }
    return -1;
}

// Moves the chosen device to the front of the priority list: the others keep
// their order behind it. Only the list's count bytes are written.
void MakeFirstInPriorityList(uint8_t* list, unsigned int count, uint8_t chosen)
{
    if (count == 0 || count > BBS_MAX_DEVICES)
        return;
    uint8_t saved[BBS_MAX_DEVICES];
    memcpy(saved, list, count);
    list[0] = chosen;
    unsigned int next = 1;
    for (unsigned int i = 0; i < count && next < count; i++) {
        if (saved[i] != chosen)
            list[next++] = saved[i];
    }
}

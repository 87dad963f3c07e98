// The firmware calling interface of the boot configuration commands and the
// helpers that the command modules share.
#include "flashvar.h"

#include <string.h>

#include "TarnMaTool.h"
#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/usagehead.h"

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

int SendRequest(uint16_t cls, uint16_t sel, uint32_t in0, uint32_t in1, uint32_t in2, ENUM_ERR_ID notHandled,
                ENUM_ERR_ID failed)
{
    int result = SetInterface(cls, sel, in0, in1, in2, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] == SMI_STATUS_NOT_HANDLED)
        return (int)notHandled;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return (int)failed;
    return 0;
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

// GetMode and the gate read the mode the same way; they differ only in the
// codes for an unanswered or failed read.
int ReadBootMode(BOOT_MODE_VALUES* values, uint32_t* current, ENUM_ERR_ID notHandled, ENUM_ERR_ID failed)
{
    int result = AskModeEncoding(values);
    if (result != 0)
        return result;
    result = SendRequest(SMI_CLASS_GET_SETTING, SMI_SELECT_SETTING, SETTING_BOOT_MODE, 0, 0, notHandled, failed);
    if (result != 0)
        return result;
    *current = pCmdBuf->Output[1];
    return 0;
}

// The gate's decision for the mode read: the boot order commands run only in
// legacy mode, the boot option commands and SetSecureBoot only in UEFI mode;
// a mode that is neither refuses every command.
int CheckBootModeGate(uint32_t current, const BOOT_MODE_VALUES* mode)
{
    if (current == mode->Legacy) {
        bool legacyCommand = GetBootOrderFlag || SetFirstBootOrderFlag;
        if (!legacyCommand)
            return QX3_ERR_ONLY_UEFI;
        return 0;
    }
    if (current == mode->Uefi) {
        bool uefiCommand =
            GetBootOptionFlag || AddBootOptionFlag || DelBootOptionFlag || SetFirstBootOptionFlag || SetSecureBootFlag;
        if (!uefiCommand)
            return QX3_ERR_ONLY_LEGACY;
        return 0;
    }
    return QX3_ERR_GET_MODE;
}

// The boot-mode gate: reads the mode and decides.
int AskBootMode()
{
    BOOT_MODE_VALUES mode;
    uint32_t current;
    int result = ReadBootMode(&mode, &current, QX3_ERR_GET_MODE, QX3_ERR_GET_MODE);
    if (result != 0)
        return result;
    return CheckBootModeGate(current, &mode);
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

// Index of the word given back by GIVE_BACK_WORD_2_STOP.
static const unsigned int GIVEN_BACK_WORD = 2;

// The command that claimed its word on the line so far, and that word's
// index. A command line carries one command: an argument word may be another
// command's word, and both commands would otherwise claim the line.
static QX3_QUEUE_ITEM* gpLineCommand = nullptr;
static unsigned int gLineCommandWord = 0;

// True when another command module is enabled for this line already. Then
// neither runs: the later of the two command words is given back, so the
// line is refused with the usage text naming it.
static bool RefuseSecondCommand(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self, unsigned int word)
{
    if (gpLineCommand == nullptr || gpLineCommand == self || !gpLineCommand->bEnable) {
        gpLineCommand = self;
        gLineCommandWord = word;
        return false;
    }
    gpLineCommand->bEnable = false;
    self->bEnable = false;
    args[word > gLineCommandWord ? word : gLineCommandWord]->consumed = false;
    return true;
}

int ClaimCommandForm(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self, const COMMAND_FORM* forms, unsigned int formCount,
                     WRONG_COUNT_RULE rule)
{
    for (unsigned int i = 1; i < args.size(); i++) {
        unsigned int form = 0;
        while (form < formCount && !MatchCommandWord(args[i]->text, forms[form].LongWord, forms[form].ShortWord))
            form++;
        if (form == formCount)
            continue;

        args[i]->consumed = true;
        self->bEnable = true;
        if (args.size() == forms[form].WordCount)
            return RefuseSecondCommand(args, self, i) ? -1 : (int)form;

        // The word left unclaimed makes the pipeline refuse the whole line.
        self->bEnable = false;
        if (rule == GIVE_BACK_WORD_2_STOP) {
            args[GIVEN_BACK_WORD]->consumed = false;
            return -1;
        }
        args[i]->consumed = false;
        if (rule == GIVE_BACK_COMMAND_WORD_STOP)
            return -1;
    }
    return -1;
}

bool ClaimCommandWord(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self, const COMMAND_FORM* form, WRONG_COUNT_RULE rule)
{
    return ClaimCommandForm(args, self, form, 1, rule) == 0;
}

void PrintHelpLines(const char* longWord, const char* firstLine, const char* secondLine)
{
    char name[COMMAND_NAME_BUFFER];
    UpperCommandName(name, longWord);
    WriteOut(firstLine, HELP_NAME_WIDTH, name);
    if (secondLine == nullptr) {
        KVT_CheckGlobalLineCont(1);
        return;
    }
    WriteOut(secondLine, HELP_NAME_WIDTH, "");
    KVT_CheckGlobalLineCont(2);
}

// A word longer than maxLength is refused: it stays unclaimed, so the command
// line is rejected and nothing is sent. An accepted word replaces the text
// and the widened string of an earlier one.
bool TakeBootOptionWord(QX3_ARGV_ITEM* item, char* area, unsigned int maxLength, unsigned short** wide)
{
    if (StringLength(item->text) > maxLength)
        return false;
    if (!CopyCommandWord(area, BOOT_OPTION_TEXT_AREA, item->text))
        return false;
    item->consumed = true;
    FreeMem((unsigned char*)*wide);
    *wide = castASCIItoUTF16(area, STR_ENCODING_UTF16LE);
    return true;
}

// Run by the boot option commands' clean-up hooks.
void ReleaseBootOptionWord(char** area, unsigned short** wide)
{
    FreeMem((unsigned char*)*area);
    FreeMem((unsigned char*)*wide);
    *area = nullptr;
    *wide = nullptr;
}

// Copies a widened string, its zero unit included, into the shared buffer.
static void PutWideText(unsigned int offset, const unsigned short* text)
{
    const unsigned char* bytes = (const unsigned char*)text;
    MemCpy(gpIntrBuf + offset, bytes, (unsigned int)getStrSizeFromBinDataArray(bytes, 0, STR_ENCODING_UTF16LE));
}

int SendLabelRequest(uint16_t select, const unsigned short* label, const unsigned short* loader, ENUM_ERR_ID notHandled,
                     ENUM_ERR_ID failed)
{
    PutWideText(SMI_PAYLOAD_OFFSET, label);
    uint32_t loaderPlace = 0;
    if (loader != nullptr) {
        PutWideText(BOOT_LOADER_OFFSET, loader);
        loaderPlace = gIntrBufPhyAddr + BOOT_LOADER_OFFSET;
    }
    return SendRequest(SMI_CLASS_OEM, select, gIntrBufPhyAddr + SMI_PAYLOAD_OFFSET, loaderPlace, 0, notHandled, failed);
}

// Reads the name of one device from the description window: at most
// BBS_NAME_MAX characters and never past the window's end. An empty
// description is shown as "Unknown".
static void ReadDescription(const unsigned char* window, unsigned int offset, char* name)
{
    unsigned int length = 0;
    while (length < BBS_NAME_MAX && offset + length < BBS_DESCRIPTION_WINDOW && window[offset + length] != 0) {
        name[length] = (char)window[offset + length];
        length++;
    }
    name[length] = '\0';
    if (length == 0)
        strcpy(name, "Unknown");
}

// Asks the firmware for the legacy boot devices (3/2 for the count, 3/3 for
// the priority list, the IPL table and the skip list in the shared buffer)
// and builds their names. An answer that does not fit the buffer's places,
// names a device that does not exist or names one twice ends with 216
// before anything else is sent, so the firmware's order is left alone.
int ReadBbsDevices(BBS_DEVICE_TABLE* table)
{
    table->Count = 0;

    int result = SendRequest(SMI_CLASS_BBS, SMI_SELECT_BBS_DEVICE_COUNT, 0, 0, 0, QX3_ERR_GET_BBS_IPL_TABLE,
                             QX3_ERR_GET_BBS_IPL_TABLE);
    if (result != 0)
        return result;
    unsigned int count = pCmdBuf->Output[1] & 0xFF;
    if (count > BBS_MAX_DEVICES)
        return QX3_ERR_GET_BBS_IPL_TABLE;

    uint32_t skipList = gIntrBufPhyAddr + BBS_IPL_TABLE_OFFSET + sizeof(BIOS_IPL_ENTRY) * count;
    result = SendRequest(SMI_CLASS_BBS, SMI_SELECT_BBS_IPL_DATA, gIntrBufPhyAddr + SMI_PAYLOAD_OFFSET,
                         gIntrBufPhyAddr + BBS_IPL_TABLE_OFFSET, skipList, QX3_ERR_GET_BBS_IPL_TABLE,
                         QX3_ERR_GET_BBS_IPL_TABLE);
    if (result != 0)
        return result;

    // The list names each device once.
    const uint8_t* priority = gpIntrBuf + SMI_PAYLOAD_OFFSET;
    bool listed[BBS_MAX_DEVICES] = {false};
    for (unsigned int p = 0; p < count; p++) {
        if (priority[p] >= count || listed[priority[p]])
            return QX3_ERR_GET_BBS_IPL_TABLE;
        listed[priority[p]] = true;
    }
    if (count == 0)
        return 0;

    // Each description string is read at its own real-mode address, through
    // a window over its segment. Most firmwares keep every string in one
    // segment, the first entry's, whose window serves all of them; an option
    // ROM may keep its name in its own segment, which gets a window of its
    // own for that one read. A window that cannot be mapped ends with 216.
    BIOS_IPL_ENTRY entry;
    memcpy(&entry, gpIntrBuf + BBS_IPL_TABLE_OFFSET, sizeof(entry));
    const uint16_t firstSegment = entry.DescStringSegment;
    unsigned char* window = MapPhyMem((uint32_t)firstSegment * 16, BBS_DESCRIPTION_WINDOW);
    if (window == nullptr)
        return QX3_ERR_GET_BBS_IPL_TABLE;
    for (unsigned int k = 0; k < count; k++) {
        memcpy(&entry, gpIntrBuf + BBS_IPL_TABLE_OFFSET + sizeof(BIOS_IPL_ENTRY) * k, sizeof(entry));
        if (entry.DescStringSegment == firstSegment) {
            ReadDescription(window, entry.DescStringOffset, table->Name[k]);
            continue;
        }
        unsigned char* own = MapPhyMem((uint32_t)entry.DescStringSegment * 16, BBS_DESCRIPTION_WINDOW);
        if (own == nullptr) {
            UnMapPhyMem(window, BBS_DESCRIPTION_WINDOW);
            return QX3_ERR_GET_BBS_IPL_TABLE;
        }
        ReadDescription(own, entry.DescStringOffset, table->Name[k]);
        UnMapPhyMem(own, BBS_DESCRIPTION_WINDOW);
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

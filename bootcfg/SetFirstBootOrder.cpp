// SetFirstBootOrder module ("/SetFirstBootOrder <device>", "/SFBO"): moves
// the legacy boot device named as GetBootOrder prints it to the front of the
// priority list. Legacy mode only.
#include "flashvar.h"

#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"
#include "../framework/usagehead.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterSetFirstBootOrderQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM SetFirstBootOrderQueueItem;

static const char COMMAND_WORD[] = "SetFirstBootOrder";
static const char SHORT_WORD[] = "SFBO";
static const unsigned int WORD_COUNT = 3; // program, command, device
static const unsigned int DEVICE_WORD = 2;

// The device word; a longer word keeps its first 31 characters.
static char InputDevice[32];
static BBS_DEVICE_TABLE BootDevices;

// Words: the command and the device name. With any other count the word at
// index 2 is given back and the scan stops.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    for (unsigned int i = 1; i < args.size(); i++) {
        if (!MatchCommandWord(args[i]->text, COMMAND_WORD, SHORT_WORD))
            continue;
        args[i]->consumed = true;
        if (args.size() != WORD_COUNT) {
            self->bEnable = false;
            args[DEVICE_WORD]->consumed = false;
            break;
        }
        self->bEnable = true;
        CopyCommandWord(InputDevice, sizeof(InputDevice), args[DEVICE_WORD]->text);
        args[DEVICE_WORD]->consumed = true;
        SetFirstBootOrderFlag = true;
        break;
    }
    return 0;
}

// Requests: the gate, the device data, then the new priority list (3/5) with
// the skip list handed back as the firmware wrote it.
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    int result = AskBootMode();
    if (result != 0)
        return result;
    result = ReadBbsDevices(&BootDevices);
    if (result != 0)
        return result;

    // With no device there is nothing to choose and an empty list is sent.
    int chosen = FindBbsDevice(&BootDevices, InputDevice);
    if (chosen < 0 && BootDevices.Count > 0)
        return QX3_ERR_SET_PRIORITY;
    MakeFirstInPriorityList(gpIntrBuf + SMI_PAYLOAD_OFFSET, BootDevices.Count, (uint8_t)chosen);

    uint32_t skipList = gIntrBufPhyAddr + BBS_IPL_TABLE_OFFSET + sizeof(BIOS_IPL_ENTRY) * BootDevices.Count;
    result = SetInterface(SMI_CLASS_BBS, SMI_SELECT_BBS_SET_PRIORITY, gIntrBufPhyAddr + SMI_PAYLOAD_OFFSET,
                          skipList, SecurityKey, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] == SMI_STATUS_NOT_HANDLED)
        return QX3_ERR_NO_BBS;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return QX3_ERR_SET_PRIORITY;

    WriteOut("BIOS Boot Setting success\n");
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    char name[COMMAND_NAME_BUFFER];
    UpperCommandName(name, COMMAND_WORD);
    WriteOut("|%*s - Set X to First Boot Loader, X = String that get     |\n", HELP_NAME_WIDTH, name);
    WriteOut("|%*s   from /GetBootOrder                                  |\n", HELP_NAME_WIDTH, "");
    KVT_CheckGlobalLineCont(2);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    SetFirstBootOrderQueueItem.ModuleId = MODULE_ID_SET_FIRST_BOOT_ORDER;
    SetFirstBootOrderQueueItem.ParsingCommand = ParsingCommandFunction;
    SetFirstBootOrderQueueItem.ExecutionAction = ExecutionActionFunction;
    SetFirstBootOrderQueueItem.Help = CommandHelp;
    SetFirstBootOrderQueueItem.ErrorAction = nullptr;
    SetFirstBootOrderQueueItem.bEnable = false;
    SetFirstBootOrderQueueItem.bStopParsing = false;
    SetFirstBootOrderQueueItem.Priority = 0x8000;
    modules.push_back(&SetFirstBootOrderQueueItem);
    return 0;
}

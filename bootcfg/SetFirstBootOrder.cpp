// SetFirstBootOrder module ("/SetFirstBootOrder <device>", "/SFBO"): moves
// the legacy boot device named as GetBootOrder prints it to the front of the
// priority list. Legacy mode only.
#include "flashvar.h"

#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterSetFirstBootOrderQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM SetFirstBootOrderQueueItem;

static const COMMAND_FORM COMMAND = {"SetFirstBootOrder", "SFBO", 3}; // program, command, device
static const unsigned int DEVICE_WORD = 2;

// The device word, as long as the longest device name; a longer word keeps
// its first BBS_NAME_MAX characters, so it still chooses the device whose
// name it starts with.
static char InputDevice[BBS_NAME_MAX + 1];
static BBS_DEVICE_TABLE BootDevices;

// Words: the command and the device name. With any other count the word at
// index 2 is given back and the scan stops.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    if (!ClaimCommandWord(args, self, &COMMAND, GIVE_BACK_WORD_2_STOP))
        return 0;
    CopyCommandWord(InputDevice, sizeof(InputDevice), args[DEVICE_WORD]->text);
    args[DEVICE_WORD]->consumed = true;
    SetFirstBootOrderFlag = true;
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

    // No name matches (also when there is no device at all): nothing is sent.
    int chosen = FindBbsDevice(&BootDevices, InputDevice);
    if (chosen < 0)
        return QX3_ERR_SET_PRIORITY;
    MakeFirstInPriorityList(gpIntrBuf + SMI_PAYLOAD_OFFSET, BootDevices.Count, (uint8_t)chosen);

    uint32_t skipList = gIntrBufPhyAddr + BBS_IPL_TABLE_OFFSET + sizeof(BIOS_IPL_ENTRY) * BootDevices.Count;
    result = SendRequest(SMI_CLASS_BBS, SMI_SELECT_BBS_SET_PRIORITY, gIntrBufPhyAddr + SMI_PAYLOAD_OFFSET, skipList,
                         SecurityKey, QX3_ERR_NO_BBS, QX3_ERR_SET_PRIORITY);
    if (result != 0)
        return result;

    WriteOut("BIOS Boot Setting success\n");
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    PrintHelpLines(COMMAND.LongWord, "|%*s - Set X to First Boot Loader, X = String that get     |\n",
                   "|%*s   from /GetBootOrder                                  |\n");
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &SetFirstBootOrderQueueItem, MODULE_ID_SET_FIRST_BOOT_ORDER, COMMAND_PRIORITY, false,
                      ParsingCommandFunction, ExecutionActionFunction, CommandHelp);
    return 0;
}

// GetBootOrder module ("/GetBootOrder", "/GBO"): lists the legacy boot
// devices by name, highest priority first. Legacy mode only.
#include "flashvar.h"

#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"
#include "../framework/usagehead.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterGetBootOrderQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM GetBootOrderQueueItem;

static const char COMMAND_WORD[] = "GetBootOrder";
static const char SHORT_WORD[] = "GBO";
static const unsigned int WORD_COUNT = 2; // program, command

static BBS_DEVICE_TABLE BootDevices;

// Words: the command alone. With any other count the command word is given
// back and the scan goes on.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    for (unsigned int i = 1; i < args.size(); i++) {
        if (!MatchCommandWord(args[i]->text, COMMAND_WORD, SHORT_WORD))
            continue;
        if (args.size() != WORD_COUNT) {
            self->bEnable = false;
            args[i]->consumed = false;
            continue;
        }
        self->bEnable = true;
        args[i]->consumed = true;
        GetBootOrderFlag = true;
        break;
    }
    return 0;
}

// Requests: the gate, then the device data; output: one line per device.
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    int result = AskBootMode();
    if (result != 0)
        return result;
    result = ReadBbsDevices(&BootDevices);
    if (result != 0)
        return result;

    const uint8_t* priority = gpIntrBuf + SMI_PAYLOAD_OFFSET;
    for (unsigned int p = 0; p < BootDevices.Count; p++)
        WriteOut(" %s\n", BootDevices.Name[priority[p]]);
    return 0;
}

static void CommandHelp(bool headerPass)
{
    char name[COMMAND_NAME_BUFFER];
    UpperCommandName(name, COMMAND_WORD);
    if (headerPass)
        WriteOut("|%*s - Refer to Options: GetBootOrder                      |\n", HELP_NAME_WIDTH, name);
    else
        WriteOut("|%*s - Get Boot Order List                                 |\n", HELP_NAME_WIDTH, name);
    KVT_CheckGlobalLineCont(1);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    GetBootOrderQueueItem.ModuleId = MODULE_ID_GET_BOOT_ORDER;
    GetBootOrderQueueItem.ParsingCommand = ParsingCommandFunction;
    GetBootOrderQueueItem.ExecutionAction = ExecutionActionFunction;
    GetBootOrderQueueItem.Help = CommandHelp;
    GetBootOrderQueueItem.ErrorAction = nullptr;
    GetBootOrderQueueItem.bEnable = false;
    GetBootOrderQueueItem.bStopParsing = false;
    GetBootOrderQueueItem.Priority = 0x8000;
    modules.push_back(&GetBootOrderQueueItem);
    return 0;
}

// GetBootOrder module ("/GetBootOrder", "/GBO"): lists the legacy boot
// devices by name, highest priority first. Legacy mode only.
#include "flashvar.h"

#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterGetBootOrderQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM GetBootOrderQueueItem;

static const COMMAND_FORM COMMAND = {"GetBootOrder", "GBO", 2}; // program, command

static BBS_DEVICE_TABLE BootDevices;

// Words: the command alone. With any other count the command word is given
// back and the scan goes on.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    if (ClaimCommandWord(args, self, &COMMAND, GIVE_BACK_COMMAND_WORD_GO_ON))
        GetBootOrderFlag = true;
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
    if (headerPass)
        PrintHelpLines(COMMAND.LongWord, "|%*s - Refer to Options: GetBootOrder                      |\n", nullptr);
    else
        PrintHelpLines(COMMAND.LongWord, "|%*s - Get Boot Order List                                 |\n", nullptr);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &GetBootOrderQueueItem, MODULE_ID_GET_BOOT_ORDER, COMMAND_PRIORITY, false,
                      ParsingCommandFunction, ExecutionActionFunction, CommandHelp);
    return 0;
}

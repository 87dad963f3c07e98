// GetMode module ("/GetMode", "/GM"): prints the firmware's boot mode. Works
// in both modes, so it asks the firmware directly instead of passing the gate.
#include "flashvar.h"

#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterGetModeQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM GetModeQueueItem;

static const COMMAND_FORM COMMAND = {"GetMode", "GM", 2}; // program, command

// Words: the command alone. With any other count the command word is given
// back and the scan stops.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    ClaimCommandWord(args, self, &COMMAND, GIVE_BACK_COMMAND_WORD_STOP);
    return 0;
}

// Requests: the mode encoding (99/24), then the boot-mode setting (0/0 with
// 0x8007). A value of neither encoding is an unreadable mode, as the gate
// takes it: nothing is printed and the command ends with 224.
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    BOOT_MODE_VALUES mode;
    uint32_t current;
    int result = ReadBootMode(&mode, &current, QX3_ERR_NO_GET_MODE, QX3_ERR_GET_MODE);
    if (result != 0)
        return result;

    if (current == mode.Legacy)
        WriteOut(" Current Boot Mode : LEGACY\n");
    else if (current == mode.Uefi)
        WriteOut(" Current Boot Mode : UEFI\n");
    else
        return QX3_ERR_GET_MODE;
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        PrintHelpLines(COMMAND.LongWord, "|%*s - Refer to Options: GetMode                           |\n", nullptr);
    else
        PrintHelpLines(COMMAND.LongWord, "|%*s - Display BBS Mode                                    |\n", nullptr);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &GetModeQueueItem, MODULE_ID_GET_MODE, COMMAND_PRIORITY, false, ParsingCommandFunction,
                      ExecutionActionFunction, CommandHelp);
    return 0;
}

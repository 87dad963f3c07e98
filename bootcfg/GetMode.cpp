// GetMode module ("/GetMode", "/GM"): prints the firmware's boot mode. Works
// in both modes, so it asks the firmware directly instead of passing the gate.
#include "flashvar.h"

#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"
#include "../framework/usagehead.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterGetModeQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM GetModeQueueItem;

static const char COMMAND_WORD[] = "GetMode";
static const char SHORT_WORD[] = "GM";
static const unsigned int WORD_COUNT = 2; // program, command

// Words: the command alone. With any other count the command word is given
// back and the scan stops.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    for (unsigned int i = 1; i < args.size(); i++) {
        if (!MatchCommandWord(args[i]->text, COMMAND_WORD, SHORT_WORD))
            continue;
        self->bEnable = args.size() == WORD_COUNT;
        args[i]->consumed = self->bEnable;
        break;
    }
    return 0;
}

// Requests: the mode encoding (99/24), then the boot-mode setting (0/0 with
// 0x8007). A value of neither encoding leaves the line open.
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    BOOT_MODE_VALUES mode;
    int result = AskModeEncoding(&mode);
    if (result != 0)
        return result;
    result = SetInterface(SMI_CLASS_GET_SETTING, SMI_SELECT_SETTING, SETTING_BOOT_MODE, 0, 0, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] == SMI_STATUS_NOT_HANDLED)
        return QX3_ERR_NO_GET_MODE;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return QX3_ERR_GET_MODE;

    uint32_t current = pCmdBuf->Output[1];
    WriteOut(" Current Boot Mode : ");
    if (current == mode.Legacy)
        WriteOut("LEGACY\n");
    else if (current == mode.Uefi)
        WriteOut("UEFI\n");
    return 0;
}

static void CommandHelp(bool headerPass)
{
    char name[COMMAND_NAME_BUFFER];
    UpperCommandName(name, COMMAND_WORD);
    if (headerPass)
        WriteOut("|%*s - Refer to Options: GetMode                           |\n", HELP_NAME_WIDTH, name);
    else
        WriteOut("|%*s - Display BBS Mode                                    |\n", HELP_NAME_WIDTH, name);
    KVT_CheckGlobalLineCont(1);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    GetModeQueueItem.ModuleId = MODULE_ID_GET_MODE;
    GetModeQueueItem.ParsingCommand = ParsingCommandFunction;
    GetModeQueueItem.ExecutionAction = ExecutionActionFunction;
    GetModeQueueItem.Help = CommandHelp;
    GetModeQueueItem.ErrorAction = nullptr;
    GetModeQueueItem.bEnable = false;
    GetModeQueueItem.bStopParsing = false;
    GetModeQueueItem.Priority = 0x8000;
    modules.push_back(&GetModeQueueItem);
    return 0;
}

// SetMode module ("/SetMode legacy|uefi", "/SM"): switches the firmware's
// boot mode. Works in both modes and sends the request even when the
// firmware is already in the mode asked for.
#include "flashvar.h"

#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"
#include "../framework/usagehead.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterSetModeQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM SetModeQueueItem;

static const char COMMAND_WORD[] = "SetMode";
static const char SHORT_WORD[] = "SM";
static const unsigned int WORD_COUNT = 3; // program, command, mode
static const unsigned int MODE_WORD = 2;

static bool LEGACYModeFlag = false;
static bool UEFIModeFlag = false;
// The mode word as typed; a longer word keeps its first 31 characters.
static char InputBBSMode[32];

// Words: the command and "legacy" or "uefi" in any letter case; another mode
// word stays unclaimed. With any other count the word at index 2 is given
// back and the scan stops.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    for (unsigned int i = 1; i < args.size(); i++) {
        if (!MatchCommandWord(args[i]->text, COMMAND_WORD, SHORT_WORD))
            continue;
        args[i]->consumed = true;
        if (args.size() != WORD_COUNT) {
            self->bEnable = false;
            args[MODE_WORD]->consumed = false;
            break;
        }
        self->bEnable = true;
        const char* word = args[MODE_WORD]->text;
        CopyCommandWord(InputBBSMode, sizeof(InputBBSMode), word);
        if (IdentifyArg(word, "legacy", true))
            LEGACYModeFlag = true;
        else if (IdentifyArg(word, "uefi", true))
            UEFIModeFlag = true;
        args[MODE_WORD]->consumed = LEGACYModeFlag || UEFIModeFlag;
        break;
    }
    return 0;
}

// Request: 1/0 with 0x8007 (legacy) or 0x8008 (UEFI).
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    uint32_t setting;
    const char* modeName;
    if (LEGACYModeFlag) {
        setting = SETTING_BOOT_MODE;
        modeName = "LEGACY";
    } else if (UEFIModeFlag) {
        setting = SETTING_UEFI_MODE;
        modeName = "UEFI";
    } else {
        return QX3_ERR_ONLY_LEGACY;
    }

    int result = SetInterface(SMI_CLASS_SET_SETTING, SMI_SELECT_SETTING, setting, 0, 0, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] == SMI_STATUS_NOT_HANDLED)
        return QX3_ERR_NO_SET_MODE;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return QX3_ERR_SET_MODE;

    WriteOut(" Set Boot Mode : %s\n", modeName);
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    char name[COMMAND_NAME_BUFFER];
    UpperCommandName(name, COMMAND_WORD);
    WriteOut("|%*s - Setting BBS Mode to X, X = UEFI or LEGACY           |\n", HELP_NAME_WIDTH, name);
    WriteOut("|%*s   Ex. /SetMode UEFI                                   |\n", HELP_NAME_WIDTH, "");
    KVT_CheckGlobalLineCont(2);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    SetModeQueueItem.ModuleId = MODULE_ID_SET_MODE;
    SetModeQueueItem.ParsingCommand = ParsingCommandFunction;
    SetModeQueueItem.ExecutionAction = ExecutionActionFunction;
    SetModeQueueItem.Help = CommandHelp;
    SetModeQueueItem.ErrorAction = nullptr;
    SetModeQueueItem.bEnable = false;
    SetModeQueueItem.bStopParsing = false;
    SetModeQueueItem.Priority = 0x8000;
    modules.push_back(&SetModeQueueItem);
    LEGACYModeFlag = false;
    UEFIModeFlag = false;
    return 0;
}

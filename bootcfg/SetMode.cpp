// SetMode module ("/SetMode legacy|uefi", "/SM"): switches the firmware's
// boot mode. Works in both modes and sends the request even when the
// firmware is already in the mode asked for.
#include "flashvar.h"

#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterSetModeQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM SetModeQueueItem;

static const COMMAND_FORM COMMAND = {"SetMode", "SM", 3}; // program, command, mode
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
    if (!ClaimCommandWord(args, self, &COMMAND, GIVE_BACK_WORD_2_STOP))
        return 0;
    const char* word = args[MODE_WORD]->text;
    CopyCommandWord(InputBBSMode, sizeof(InputBBSMode), word);
    if (IdentifyArg(word, "legacy", true))
        LEGACYModeFlag = true;
    else if (IdentifyArg(word, "uefi", true))
        UEFIModeFlag = true;
    args[MODE_WORD]->consumed = LEGACYModeFlag || UEFIModeFlag;
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

    int result =
        SendRequest(SMI_CLASS_SET_SETTING, SMI_SELECT_SETTING, setting, 0, 0, QX3_ERR_NO_SET_MODE, QX3_ERR_SET_MODE);
    if (result != 0)
        return result;

    WriteOut(" Set Boot Mode : %s\n", modeName);
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    PrintHelpLines(COMMAND.LongWord, "|%*s - Setting BBS Mode to X, X = UEFI or LEGACY           |\n",
                   "|%*s   Ex. /SetMode UEFI                                   |\n");
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &SetModeQueueItem, MODULE_ID_SET_MODE, COMMAND_PRIORITY, false, ParsingCommandFunction,
                      ExecutionActionFunction, CommandHelp);
    LEGACYModeFlag = false;
    UEFIModeFlag = false;
    return 0;
}

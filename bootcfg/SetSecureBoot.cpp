// SetSecureBoot module: switches UEFI secure boot on or off, or prints its
// state. Forms: "/SetSecureBoot on|off" and "/SSB on|off", "/SSBOFF" (off),
// and "/GSB" (print the state). UEFI mode only.
#include "flashvar.h"

#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"
#include "../framework/usagehead.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterSetSecureBootQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM SetSecureBootQueueItem;

static const char COMMAND_WORD[] = "SetSecureBoot";
static const char SHORT_WORD[] = "SSB";
static const char QUERY_WORD[] = "GSB";
static const char OFF_WORD[] = "SSBOFF";
static const unsigned int STATE_WORD_COUNT = 3; // program, command, state
static const unsigned int PLAIN_WORD_COUNT = 2; // program, command
static const unsigned int STATE_WORD = 2;

static bool SetSecureModeFlag = false;
static bool SetSecureOFFFlag = false;
// The state word as typed; a longer word keeps its first 31 characters.
static char InputSecureMode[32];

// "on" in any letter case switches on; any word starting with "of" in any
// letter case switches off.
static void TakeStateWord(QX3_ARGV_ITEM* item)
{
    CopyCommandWord(InputSecureMode, sizeof(InputSecureMode), item->text);
    char prefix[3] = {0, 0, 0};
    CopyCommandWord(prefix, sizeof(prefix), item->text);
    if (IdentifyArg(item->text, "on", true))
        SetSecureModeFlag = true;
    else if (IdentifyArg(prefix, "of", true))
        SetSecureOFFFlag = true;
    item->consumed = SetSecureModeFlag || SetSecureOFFFlag;
}

// Words: the state forms take the state word as well, "/GSB" and "/SSBOFF"
// stand alone. With any other count the command word is given back and the
// scan stops; a state word that is neither "on" nor "off" stays unclaimed.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    for (unsigned int i = 1; i < args.size(); i++) {
        const char* word = args[i]->text;
        unsigned int count;
        if (MatchCommandWord(word, COMMAND_WORD, SHORT_WORD))
            count = STATE_WORD_COUNT;
        else if (MatchCommandWord(word, QUERY_WORD, nullptr) || MatchCommandWord(word, OFF_WORD, nullptr))
            count = PLAIN_WORD_COUNT;
        else
            continue;

        self->bEnable = args.size() == count;
        args[i]->consumed = self->bEnable;
        if (!self->bEnable)
            break;
        if (count == STATE_WORD_COUNT)
            TakeStateWord(args[STATE_WORD]);
        else if (MatchCommandWord(word, OFF_WORD, nullptr))
            SetSecureOFFFlag = true;
        SetSecureBootFlag = true;
        break;
    }
    return 0;
}

// Requests: the gate, then 1/0 with 0x8009 and the new state, or 0/0 with
// 0x8009 to read it.
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    int result = AskBootMode();
    if (result != 0)
        return result;

    if (SetSecureModeFlag)
        result = SetInterface(SMI_CLASS_SET_SETTING, SMI_SELECT_SETTING, SETTING_SECURE_BOOT, 1, 0, 0);
    else if (SetSecureOFFFlag)
        result = SetInterface(SMI_CLASS_SET_SETTING, SMI_SELECT_SETTING, SETTING_SECURE_BOOT, 0, 0, 0);
    else
        result = SetInterface(SMI_CLASS_GET_SETTING, SMI_SELECT_SETTING, SETTING_SECURE_BOOT, 0, 0, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] == SMI_STATUS_NOT_HANDLED)
        return QX3_ERR_NO_GET_MODE;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return QX3_ERR_GET_MODE;

    if (SetSecureModeFlag)
        WriteOut(" Set Secure Boot : ON\n");
    else if (SetSecureOFFFlag)
        WriteOut(" Set Secure Boot : OFF\n");
    else if (pCmdBuf->Output[1] == 1)
        WriteOut(" Current Secure Boot : ON\n");
    else if (pCmdBuf->Output[1] == 0)
        WriteOut(" Current Secure Boot : OFF\n");
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    char name[COMMAND_NAME_BUFFER];
    UpperCommandName(name, COMMAND_WORD);
    WriteOut("|%*s - Set Secure Boot ON                                  |\n", HELP_NAME_WIDTH, name);
    WriteOut("|%*s   Ex. /SetSecureBoot ON/OFF                           |\n", HELP_NAME_WIDTH, "");
    KVT_CheckGlobalLineCont(2);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    SetSecureBootQueueItem.ModuleId = MODULE_ID_SET_SECURE_BOOT;
    SetSecureBootQueueItem.ParsingCommand = ParsingCommandFunction;
    SetSecureBootQueueItem.ExecutionAction = ExecutionActionFunction;
    SetSecureBootQueueItem.Help = CommandHelp;
    SetSecureBootQueueItem.ErrorAction = nullptr;
    SetSecureBootQueueItem.bEnable = false;
    SetSecureBootQueueItem.bStopParsing = false;
    SetSecureBootQueueItem.Priority = 0x8000;
    modules.push_back(&SetSecureBootQueueItem);
    SetSecureModeFlag = false;
    SetSecureOFFFlag = false;
    return 0;
}

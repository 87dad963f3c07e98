// SetSecureBoot module: switches UEFI secure boot on or off, or prints its
// state. Forms: "/SetSecureBoot on|off" and "/SSB on|off", "/SSBOFF" (off),
// and "/GSB" (print the state). UEFI mode only.
#include "flashvar.h"

#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterSetSecureBootQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM SetSecureBootQueueItem;

// The forms, in the order in which each word is compared with them.
enum { STATE_FORM, QUERY_FORM, OFF_FORM, FORM_COUNT };
static const COMMAND_FORM FORMS[FORM_COUNT] = {
    {"SetSecureBoot", "SSB", 3}, // program, command, state
    {"GSB", nullptr, 2},         // program, command
    {"SSBOFF", nullptr, 2},      // program, command
};
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
    int form = ClaimCommandForm(args, self, FORMS, FORM_COUNT, GIVE_BACK_COMMAND_WORD_STOP);
    if (form < 0)
        return 0;
    if (form == STATE_FORM)
        TakeStateWord(args[STATE_WORD]);
    else if (form == OFF_FORM)
        SetSecureOFFFlag = true;
    SetSecureBootFlag = true;
    return 0;
}

// Requests: the gate, then 1/0 with 0x8009 and the new state, or 0/0 with
// 0x8009 to read it. A state read back that is neither on (1) nor off (0)
// ends with 224 and prints nothing.
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    int result = AskBootMode();
    if (result != 0)
        return result;

    // Switching writes the setting with the new state; the query reads it.
    uint16_t cls = SMI_CLASS_GET_SETTING;
    uint32_t state = 0;
    if (SetSecureModeFlag) {
        cls = SMI_CLASS_SET_SETTING;
        state = 1;
    } else if (SetSecureOFFFlag) {
        cls = SMI_CLASS_SET_SETTING;
    }
    result = SendRequest(cls, SMI_SELECT_SETTING, SETTING_SECURE_BOOT, state, 0, QX3_ERR_NO_GET_MODE, QX3_ERR_GET_MODE);
    if (result != 0)
        return result;

    if (SetSecureModeFlag)
        WriteOut(" Set Secure Boot : ON\n");
    else if (SetSecureOFFFlag)
        WriteOut(" Set Secure Boot : OFF\n");
    else if (pCmdBuf->Output[1] == 1)
        WriteOut(" Current Secure Boot : ON\n");
    else if (pCmdBuf->Output[1] == 0)
        WriteOut(" Current Secure Boot : OFF\n");
    else
        return QX3_ERR_GET_MODE;
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    PrintHelpLines(FORMS[STATE_FORM].LongWord, "|%*s - Set Secure Boot ON                                  |\n",
                   "|%*s   Ex. /SetSecureBoot ON/OFF                           |\n");
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &SetSecureBootQueueItem, MODULE_ID_SET_SECURE_BOOT, COMMAND_PRIORITY, false,
                      ParsingCommandFunction, ExecutionActionFunction, CommandHelp);
    SetSecureModeFlag = false;
    SetSecureOFFFlag = false;
    return 0;
}

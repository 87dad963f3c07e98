// DelBootOption module ("/DelBootOption <label>", "/DBOP"): deletes the UEFI
// boot option with the given label. UEFI mode only.
#include "DelBootOption.h"

#include "flashvar.h"
#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterDelBootOptionQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM DelBootOptionQueueItem;

static const COMMAND_FORM COMMAND = {"DelBootOption", "DBOP", 3}; // program, command, label
static const unsigned int LABEL_WORD = 2;

// The label as typed (the text area exists from program start) and as the
// firmware receives it (UTF-16LE).
static char* InputOptionLabel = (char*)AllocMem(BOOT_OPTION_TEXT_AREA);
static unsigned short* InputOptionLabel16 = nullptr;

void CleanDelBootOption()
{
    ReleaseBootOptionWord(&InputOptionLabel, &InputOptionLabel16);
}

// Words: the command and the label (at most 255 characters). With any other
// count the word at index 2 is given back and the scan stops.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    if (!ClaimCommandWord(args, self, &COMMAND, GIVE_BACK_WORD_2_STOP))
        return 0;
    if (!TakeBootOptionWord(args[LABEL_WORD], InputOptionLabel, BOOT_OPTION_TEXT_MAX, &InputOptionLabel16)) {
        self->bEnable = false;
        return 0;
    }
    DelBootOptionFlag = true;
    return 0;
}

// Request: 99/13 with the label at offset 36.
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    if (InputOptionLabel16 == nullptr)
        return QX3_ERR_ALLOC_MEM;
    int result = AskBootMode();
    if (result != 0)
        return result;
    result = SendLabelRequest(SMI_SELECT_DEL_BOOT_OPTION, InputOptionLabel16, nullptr, QX3_ERR_NO_DEL_BOOT_OPTION,
                              QX3_ERR_DEL_BOOT_OPTION);
    if (result != 0)
        return result;

    WriteOut(" Delete Boot Option : %s\n", InputOptionLabel);
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    PrintHelpLines(COMMAND.LongWord, "|%*s - Delet Boot Option                                   |\n", nullptr);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &DelBootOptionQueueItem, MODULE_ID_DEL_BOOT_OPTION, COMMAND_PRIORITY, false,
                      ParsingCommandFunction, ExecutionActionFunction, CommandHelp);
    CleanDelBootOptionHook = CleanDelBootOption;
    return 0;
}

// AddBootOption module ("/AddBootOption <label> <loader>", "/ABOP"): creates
// a UEFI boot option. UEFI mode only.
#include "AddBootOption.h"

#include "flashvar.h"
#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterAddBootOptionQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM AddBootOptionQueueItem;

static const COMMAND_FORM COMMAND = {"AddBootOption", "ABOP", 4}; // program, command, label, loader
static const unsigned int LABEL_WORD = 2;
static const unsigned int LOADER_WORD = 3;

// The label and loader as typed; the text areas exist from program start.
static char* InputOptionLabel = (char*)AllocMem(BOOT_OPTION_TEXT_AREA);
static char* InputOptionLoader = (char*)AllocMem(BOOT_OPTION_TEXT_AREA);
// The same two as the firmware receives them (UTF-16LE).
static unsigned short* InputOptionLabel16 = nullptr;
static unsigned short* InputOptionLoader16 = nullptr;
static bool BackslashFlag = false;

void CleanAddBootOption()
{
    ReleaseBootOptionWord(&InputOptionLabel, &InputOptionLabel16);
    ReleaseBootOptionWord(&InputOptionLoader, &InputOptionLoader16);
}

// Words: the command, the label (at most 127 characters, so that its UTF-16
// form fits before the loader's place) and the loader path (at most 255).
// With any other count the word at index 2 is given back and the scan stops.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    if (!ClaimCommandWord(args, self, &COMMAND, GIVE_BACK_WORD_2_STOP))
        return 0;
    // Both words are looked at, so that each one that fits is claimed.
    bool labelTaken =
        TakeBootOptionWord(args[LABEL_WORD], InputOptionLabel, ADD_BOOT_OPTION_LABEL_MAX, &InputOptionLabel16);
    bool loaderTaken =
        TakeBootOptionWord(args[LOADER_WORD], InputOptionLoader, BOOT_OPTION_TEXT_MAX, &InputOptionLoader16);
    if (!labelTaken || !loaderTaken) {
        self->bEnable = false;
        return 0;
    }
    // A loader path without its leading backslash is accepted here and
    // refused when the command runs.
    BackslashFlag = InputOptionLoader[0] != '\\';
    AddBootOptionFlag = true;
    return 0;
}

// Request: 99/12 with the label at offset 36 and the loader at offset 292.
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    if (BackslashFlag) {
        WriteOut("Missing \"\\\" Before Boot Loader\n");
        return QX3_ERR_UNKNOWN_COMMAND;
    }
    if (InputOptionLabel16 == nullptr || InputOptionLoader16 == nullptr)
        return QX3_ERR_ALLOC_MEM;
    int result = AskBootMode();
    if (result != 0)
        return result;
    result = SendLabelRequest(SMI_SELECT_ADD_BOOT_OPTION, InputOptionLabel16, InputOptionLoader16,
                              QX3_ERR_NO_ADD_BOOT_OPTION, QX3_ERR_ADD_BOOT_OPTION);
    if (result != 0)
        return result;

    WriteOut("Add Boot Option Label  : %s\n", InputOptionLabel);
    WriteOut("Add Boot Option Loader : %s\n", InputOptionLoader);
    WriteOut("\nNOTICE : Reboot the system to activate the change\n");
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    PrintHelpLines(COMMAND.LongWord, "|%*s - Add Boot Option                                     |\n", nullptr);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &AddBootOptionQueueItem, MODULE_ID_ADD_BOOT_OPTION, COMMAND_PRIORITY, false,
                      ParsingCommandFunction, ExecutionActionFunction, CommandHelp);
    CleanAddBootOptionHook = CleanAddBootOption;
    BackslashFlag = false;
    return 0;
}

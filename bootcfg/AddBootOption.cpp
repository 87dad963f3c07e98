// AddBootOption module ("/AddBootOption <label> <loader>", "/ABOP"): creates
// a UEFI boot option. UEFI mode only.
#include "AddBootOption.h"

#include "flashvar.h"
#include "TarnMaTool.h"
#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"
#include "../framework/usagehead.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterAddBootOptionQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM AddBootOptionQueueItem;

static const char COMMAND_WORD[] = "AddBootOption";
static const char SHORT_WORD[] = "ABOP";
static const unsigned int WORD_COUNT = 4; // program, command, label, loader
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
    FreeMem((unsigned char*)InputOptionLabel);
    FreeMem((unsigned char*)InputOptionLoader);
    FreeMem((unsigned char*)InputOptionLabel16);
    FreeMem((unsigned char*)InputOptionLoader16);
    InputOptionLabel = nullptr;
    InputOptionLoader = nullptr;
    InputOptionLabel16 = nullptr;
    InputOptionLoader16 = nullptr;
}

// Words: the command, the label (at most 127 characters, so that its UTF-16
// form fits before the loader's place) and the loader path (at most 255).
// With any other count the word at index 2 is given back and the scan stops.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    for (unsigned int i = 1; i < args.size(); i++) {
        if (!MatchCommandWord(args[i]->text, COMMAND_WORD, SHORT_WORD))
            continue;
        args[i]->consumed = true;
        self->bEnable = false;
        if (args.size() != WORD_COUNT) {
            args[LABEL_WORD]->consumed = false;
            break;
        }
        bool labelTaken = TakeTextWord(args[LABEL_WORD], InputOptionLabel, ADD_BOOT_OPTION_LABEL_MAX);
        bool loaderTaken = TakeTextWord(args[LOADER_WORD], InputOptionLoader, BOOT_OPTION_TEXT_MAX);
        if (!labelTaken || !loaderTaken)
            break;
        // A loader path without its leading backslash is accepted here and
        // refused when the command runs.
        BackslashFlag = InputOptionLoader[0] != '\\';
        FreeMem((unsigned char*)InputOptionLabel16);
        FreeMem((unsigned char*)InputOptionLoader16);
        InputOptionLabel16 = castASCIItoUTF16(InputOptionLabel, STR_ENCODING_UTF16LE);
        InputOptionLoader16 = castASCIItoUTF16(InputOptionLoader, STR_ENCODING_UTF16LE);
        self->bEnable = true;
        AddBootOptionFlag = true;
        break;
    }
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

    const unsigned char* label = (const unsigned char*)InputOptionLabel16;
    const unsigned char* loader = (const unsigned char*)InputOptionLoader16;
    MemCpy(gpIntrBuf + SMI_PAYLOAD_OFFSET, label,
           (unsigned int)getStrSizeFromBinDataArray(label, 0, STR_ENCODING_UTF16LE));
    MemCpy(gpIntrBuf + BOOT_LOADER_OFFSET, loader,
           (unsigned int)getStrSizeFromBinDataArray(loader, 0, STR_ENCODING_UTF16LE));
    result = SetInterface(SMI_CLASS_OEM, SMI_SELECT_ADD_BOOT_OPTION, gIntrBufPhyAddr + SMI_PAYLOAD_OFFSET,
                          gIntrBufPhyAddr + BOOT_LOADER_OFFSET, 0, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] == SMI_STATUS_NOT_HANDLED)
        return QX3_ERR_NO_ADD_BOOT_OPTION;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return QX3_ERR_ADD_BOOT_OPTION;

    WriteOut("Add Boot Option Label  : %s\n", InputOptionLabel);
    WriteOut("Add Boot Option Loader : %s\n", InputOptionLoader);
    WriteOut("\nNOTICE : Reboot the system to activate the change\n");
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    char name[COMMAND_NAME_BUFFER];
    UpperCommandName(name, COMMAND_WORD);
    WriteOut("|%*s - Add Boot Option                                     |\n", HELP_NAME_WIDTH, name);
    KVT_CheckGlobalLineCont(1);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    AddBootOptionQueueItem.ModuleId = MODULE_ID_ADD_BOOT_OPTION;
    AddBootOptionQueueItem.ParsingCommand = ParsingCommandFunction;
    AddBootOptionQueueItem.ExecutionAction = ExecutionActionFunction;
    AddBootOptionQueueItem.Help = CommandHelp;
    AddBootOptionQueueItem.ErrorAction = nullptr;
    AddBootOptionQueueItem.bEnable = false;
    AddBootOptionQueueItem.bStopParsing = false;
    AddBootOptionQueueItem.Priority = 0x8000;
    modules.push_back(&AddBootOptionQueueItem);
    CleanAddBootOptionHook = CleanAddBootOption;
    BackslashFlag = false;
    return 0;
}

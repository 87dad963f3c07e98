// SetFirstBootOption module ("/SetFirstBootOption <label>", "/SFBOP"): makes
// the UEFI boot option with the given label the first to boot. UEFI mode only.
#include "SetFirstBootOption.h"

#include "flashvar.h"
#include "TarnMaTool.h"
#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"
#include "../framework/usagehead.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterSetFirstBootOptionQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM SetFirstBootOptionQueueItem;

static const char COMMAND_WORD[] = "SetFirstBootOption";
static const char SHORT_WORD[] = "SFBOP";
static const unsigned int WORD_COUNT = 3; // program, command, label
static const unsigned int LABEL_WORD = 2;

// The label as typed (the text area exists from program start) and as the
// firmware receives it (UTF-16LE).
static char* InputOptionLabel = (char*)AllocMem(BOOT_OPTION_TEXT_AREA);
static unsigned short* InputOptionLabel16 = nullptr;

void CleanSetFirstBootOption()
{
    FreeMem((unsigned char*)InputOptionLabel);
    FreeMem((unsigned char*)InputOptionLabel16);
    InputOptionLabel = nullptr;
    InputOptionLabel16 = nullptr;
}

// Words: the command and the label (at most 255 characters). With any other
// count the word at index 2 is given back and the scan stops.
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
        if (!TakeTextWord(args[LABEL_WORD], InputOptionLabel, BOOT_OPTION_TEXT_MAX))
            break;
        FreeMem((unsigned char*)InputOptionLabel16);
        InputOptionLabel16 = castASCIItoUTF16(InputOptionLabel, STR_ENCODING_UTF16LE);
        self->bEnable = true;
        SetFirstBootOptionFlag = true;
        break;
    }
    return 0;
}

// Request: 99/14 with the label at offset 36.
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    if (InputOptionLabel16 == nullptr)
        return QX3_ERR_ALLOC_MEM;
    int result = AskBootMode();
    if (result != 0)
        return result;

    const unsigned char* label = (const unsigned char*)InputOptionLabel16;
    MemCpy(gpIntrBuf + SMI_PAYLOAD_OFFSET, label,
           (unsigned int)getStrSizeFromBinDataArray(label, 0, STR_ENCODING_UTF16LE));
    result = SetInterface(SMI_CLASS_OEM, SMI_SELECT_SET_FIRST_BOOT_OPTION, gIntrBufPhyAddr + SMI_PAYLOAD_OFFSET, 0, 0, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] == SMI_STATUS_NOT_HANDLED)
        return QX3_ERR_NO_SET_FIRST_BOOT_OPTION;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return QX3_ERR_SET_FIRST_BOOT_OPTION;

    WriteOut(" Set First Boot Option : %s\n", InputOptionLabel);
    WriteOut("\nNOTICE : Reboot the system to activate the change\n");
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    char name[COMMAND_NAME_BUFFER];
    UpperCommandName(name, COMMAND_WORD);
    WriteOut("|%*s - Set First Boot Option                               |\n", HELP_NAME_WIDTH, name);
    KVT_CheckGlobalLineCont(1);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    SetFirstBootOptionQueueItem.ModuleId = MODULE_ID_SET_FIRST_BOOT_OPTION;
    SetFirstBootOptionQueueItem.ParsingCommand = ParsingCommandFunction;
    SetFirstBootOptionQueueItem.ExecutionAction = ExecutionActionFunction;
    SetFirstBootOptionQueueItem.Help = CommandHelp;
    SetFirstBootOptionQueueItem.ErrorAction = nullptr;
    SetFirstBootOptionQueueItem.bEnable = false;
    SetFirstBootOptionQueueItem.bStopParsing = false;
    SetFirstBootOptionQueueItem.Priority = 0x8000;
    modules.push_back(&SetFirstBootOptionQueueItem);
    CleanSetFirstBootOptionHook = CleanSetFirstBootOption;
    return 0;
}

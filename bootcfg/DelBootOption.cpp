// DelBootOption module ("/DelBootOption <label>", "/DBOP"): deletes the UEFI
// boot option with the given label. UEFI mode only.
#include "DelBootOption.h"

#include "flashvar.h"
#include "TarnMaTool.h"
#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"
#include "../framework/usagehead.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterDelBootOptionQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM DelBootOptionQueueItem;

static const char COMMAND_WORD[] = "DelBootOption";
static const char SHORT_WORD[] = "DBOP";
static const unsigned int WORD_COUNT = 3; // program, command, label
static const unsigned int LABEL_WORD = 2;

// The label as typed (the text area exists from program start) and as the
// firmware receives it (UTF-16LE).
static char* InputOptionLabel = (char*)AllocMem(BOOT_OPTION_TEXT_AREA);
static unsigned short* InputOptionLabel16 = nullptr;

void CleanDelBootOption()
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
        DelBootOptionFlag = true;
        break;
    }
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

    const unsigned char* label = (const unsigned char*)InputOptionLabel16;
    MemCpy(gpIntrBuf + SMI_PAYLOAD_OFFSET, label,
           (unsigned int)getStrSizeFromBinDataArray(label, 0, STR_ENCODING_UTF16LE));
    result = SetInterface(SMI_CLASS_OEM, SMI_SELECT_DEL_BOOT_OPTION, gIntrBufPhyAddr + SMI_PAYLOAD_OFFSET, 0, 0, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] == SMI_STATUS_NOT_HANDLED)
        return QX3_ERR_NO_DEL_BOOT_OPTION;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return QX3_ERR_DEL_BOOT_OPTION;

    WriteOut(" Delete Boot Option : %s\n", InputOptionLabel);
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    char name[COMMAND_NAME_BUFFER];
    UpperCommandName(name, COMMAND_WORD);
    WriteOut("|%*s - Delet Boot Option                                   |\n", HELP_NAME_WIDTH, name);
    KVT_CheckGlobalLineCont(1);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    DelBootOptionQueueItem.ModuleId = MODULE_ID_DEL_BOOT_OPTION;
    DelBootOptionQueueItem.ParsingCommand = ParsingCommandFunction;
    DelBootOptionQueueItem.ExecutionAction = ExecutionActionFunction;
    DelBootOptionQueueItem.Help = CommandHelp;
    DelBootOptionQueueItem.ErrorAction = nullptr;
    DelBootOptionQueueItem.bEnable = false;
    DelBootOptionQueueItem.bStopParsing = false;
    DelBootOptionQueueItem.Priority = 0x8000;
    modules.push_back(&DelBootOptionQueueItem);
    CleanDelBootOptionHook = CleanDelBootOption;
    return 0;
}

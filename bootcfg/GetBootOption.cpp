// GetBootOption module ("/GetBootOption", "/GBOP"): prints the firmware's
// list of UEFI boot options as it sends it. UEFI mode only.
#include "GetBootOption.h"

#include "flashvar.h"
#include "TarnMaTool.h"
#include "../firmware/biosinfo.h"
#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"
#include "../framework/usagehead.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterGetBootOptionQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM GetBootOptionQueueItem;

static const char COMMAND_WORD[] = "GetBootOption";
static const char SHORT_WORD[] = "GBOP";
static const unsigned int WORD_COUNT = 2; // program, command

// The list text is read from offset 36 to the end of the shared buffer at
// most; a text that does not end there is cut at the buffer's end.
static const unsigned int LIST_MAX_UNITS = (SMI_BUFFER_SIZE - SMI_PAYLOAD_OFFSET) / 2;

// The firmware's list narrowed to 8-bit text.
static char* OptionString = nullptr;

void CleanGetBootOption()
{
    FreeMem((unsigned char*)OptionString);
    OptionString = nullptr;
}

// Words: the command alone. With any other count the command word is given
// back and the scan goes on.
static int ParsingCommandFunction(QX3_ARGV_LIST& args, QX3_QUEUE_ITEM* self)
{
    for (unsigned int i = 1; i < args.size(); i++) {
        if (!MatchCommandWord(args[i]->text, COMMAND_WORD, SHORT_WORD))
            continue;
        if (args.size() != WORD_COUNT) {
            self->bEnable = false;
            args[i]->consumed = false;
            continue;
        }
        self->bEnable = true;
        args[i]->consumed = true;
        GetBootOptionFlag = true;
        break;
    }
    return 0;
}

// Request: 99/11; the firmware writes the list text at offset 36.
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    int result = AskBootMode();
    if (result != 0)
        return result;
    result = SetInterface(SMI_CLASS_OEM, SMI_SELECT_GET_BOOT_OPTIONS, gIntrBufPhyAddr + SMI_PAYLOAD_OFFSET, 0, 0, 0);
    if (result != 0)
        return result;
    if (pCmdBuf->Output[0] == SMI_STATUS_NOT_HANDLED)
        return QX3_ERR_NO_GET_BOOT_OPTION;
    if (pCmdBuf->Output[0] != SMI_STATUS_SUCCESS)
        return QX3_ERR_GET_BOOT_OPTION;

    FreeMem((unsigned char*)OptionString);
    OptionString = castUTF16toASCIIWithin((const unsigned short*)(gpIntrBuf + SMI_PAYLOAD_OFFSET), LIST_MAX_UNITS);
    if (OptionString == nullptr)
        return QX3_ERR_ALLOC_MEM;

    WriteOut("Boot Option : \n");
    WriteOut("%s\n", OptionString);
    return 0;
}

static void CommandHelp(bool headerPass)
{
    char name[COMMAND_NAME_BUFFER];
    UpperCommandName(name, COMMAND_WORD);
    if (headerPass)
        WriteOut("|%*s - Refer to Options: GetBootOption                     |\n", HELP_NAME_WIDTH, name);
    else
        WriteOut("|%*s - Get Boot Option List                                |\n", HELP_NAME_WIDTH, name);
    KVT_CheckGlobalLineCont(1);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    GetBootOptionQueueItem.ModuleId = MODULE_ID_GET_BOOT_OPTION;
    GetBootOptionQueueItem.ParsingCommand = ParsingCommandFunction;
    GetBootOptionQueueItem.ExecutionAction = ExecutionActionFunction;
    GetBootOptionQueueItem.Help = CommandHelp;
    GetBootOptionQueueItem.ErrorAction = nullptr;
    GetBootOptionQueueItem.bEnable = false;
    GetBootOptionQueueItem.bStopParsing = false;
    GetBootOptionQueueItem.Priority = 0x8000;
    modules.push_back(&GetBootOptionQueueItem);
    CleanGetBootOptionHook = CleanGetBootOption;
    return 0;
}

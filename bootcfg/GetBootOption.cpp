// GetBootOption module ("/GetBootOption", "/GBOP"): prints the firmware's
// list of UEFI boot options as it sends it. UEFI mode only.
#include "GetBootOption.h"

#include "flashvar.h"
#include "TarnMaTool.h"
#include "../firmware/biosinfo.h"
#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterGetBootOptionQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM GetBootOptionQueueItem;

static const COMMAND_FORM COMMAND = {"GetBootOption", "GBOP", 2}; // program, command

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
    if (ClaimCommandWord(args, self, &COMMAND, GIVE_BACK_COMMAND_WORD_GO_ON))
        GetBootOptionFlag = true;
    return 0;
}

// Request: 99/11; the firmware writes the list text at offset 36.
static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    int result = AskBootMode();
    if (result != 0)
        return result;
    result = SendRequest(SMI_CLASS_OEM, SMI_SELECT_GET_BOOT_OPTIONS, gIntrBufPhyAddr + SMI_PAYLOAD_OFFSET, 0, 0,
                         QX3_ERR_NO_GET_BOOT_OPTION, QX3_ERR_GET_BOOT_OPTION);
    if (result != 0)
        return result;

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
    if (headerPass)
        PrintHelpLines(COMMAND.LongWord, "|%*s - Refer to Options: GetBootOption                     |\n", nullptr);
    else
        PrintHelpLines(COMMAND.LongWord, "|%*s - Get Boot Option List                                |\n", nullptr);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &GetBootOptionQueueItem, MODULE_ID_GET_BOOT_OPTION, COMMAND_PRIORITY, false,
                      ParsingCommandFunction, ExecutionActionFunction, CommandHelp);
    CleanGetBootOptionHook = CleanGetBootOption;
    return 0;
}

// GetTypeDA module: sets up the calling interface of the boot configuration
// commands at registration (port, function code, the shared SMI buffer) and
// sends the manufacturing-mode query. It claims no word and never runs.
#include "flashvar.h"

#include "../firmware/biosinfo.h"
#include "../firmware/oshook.h"
#include "../framework/GlobalVariable.h"
#include "../framework/Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterGetTypeDAQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM GetTypeDAQueueItem;

// Recorded only: the module list is never sorted by priority.
static const uint16_t GET_TYPE_DA_PRIORITY = 20000;

static int ParsingCommandFunction(QX3_ARGV_LIST& /*args*/, QX3_QUEUE_ITEM* /*self*/)
{
    return 0;
}

static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    return 0;
}

static void CommandHelp(bool /*headerPass*/)
{
}

// The query goes out with a zeroed block and no preset status; its answer is
// not used.
static void SendManufacturingModeQuery()
{
    SMI_CMD_BUFFER* block = (SMI_CMD_BUFFER*)gpIntrBuf;
    MemSet(block, 0, sizeof(SMI_CMD_BUFFER));
    block->Class = SMI_CLASS_OEM;
    block->Select = SMI_SELECT_MANUFACTURING_MODE;
    OutPortByte(SMIPort, SMIFunNum);
}

// From here on every request uses the buffer allocated here; it replaces the
// one of the BIOS information module in the same two globals.
static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &GetTypeDAQueueItem, MODULE_ID_GET_TYPE_DA, GET_TYPE_DA_PRIORITY, false,
                      ParsingCommandFunction, ExecutionActionFunction, CommandHelp);

    SMIPort = BOOTCFG_SMI_PORT;
    SMIFunNum = BOOTCFG_SMI_FUNCTION;
    if (!AllocPhyMem(SMI_BUFFER_SIZE, &gIntrBufPhyAddr, &gpIntrBuf)) {
        WriteOut("[DEBUG] \tFailed to allocate physical memory pool.\n");
        return QX3_ERR_ALLOC_BIOS_BUF;
    }
    MemSet(gpIntrBuf, 0, SMI_BUFFER_SIZE);
    SendManufacturingModeQuery();
    return 0;
}

// Usage foot module: closes the box of the usage text.
#include "usagefoot.h"

#include "GlobalVariable.h"
#include "Main.h"
#include "usagehead.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterusagefootQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM usagefootQueueItem;

void WriteOutUsageFoot()
{
}

static int ParsingCommandFunction(QX3_ARGV_LIST& /*args*/, QX3_QUEUE_ITEM* self)
{
    self->bEnable = true;
    return 0;
}

static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    return 0;
}

static void CommandHelp(bool headerPass)
{
    if (headerPass)
        return;
    WriteOut(USAGE_PLUS_BORDER);
    KVT_CheckGlobalLineCont(0);
    WriteOutUsageFoot();
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &usagefootQueueItem, MODULE_ID_USAGE_FOOT, 39999, false, ParsingCommandFunction,
                      ExecutionActionFunction, CommandHelp);
    return 0;
}

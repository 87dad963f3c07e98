// Usage head module: the banner at the top of every executed run and of the
// usage text.
#include "usagehead.h"

#include "GlobalVariable.h"
#include "Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterusageheadQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM usageheadQueueItem;

void WriteOutUsageHead()
{
    WriteOut(USAGE_PLUS_BORDER);
    WriteOut("|                 Tarn BBS Utility for Android v%s", UTILITY_VERSION);
    for (int i = 0; i < 24; i++)
        WriteOut(" ");
    WriteOut("|\n");
    WriteOut("|                 Copyright (C) Tarn. All Rights Reserved.                  |\n");
    WriteOut(USAGE_BAR_BORDER);
}

static int ParsingCommandFunction(QX3_ARGV_LIST& /*args*/, QX3_QUEUE_ITEM* self)
{
    self->bEnable = true;
    return 0;
}

static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    WriteOutUsageHead();
    return 0;
}

// The banner heads the usage text; its lines are not counted.
static void CommandOEMHelp(bool headerPass)
{
    if (headerPass)
        WriteOutUsageHead();
    else
        KVT_CheckGlobalLineCont(0);
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &usageheadQueueItem, MODULE_ID_USAGE_HEAD, 19999, false, ParsingCommandFunction,
                      ExecutionActionFunction, CommandOEMHelp);
    return 0;
}

// Program entry and the module pipeline: set up, read the data trailer, start
// the platform layer, register the modules in their fixed order, let every
// module claim its command-line words, refuse unclaimed words with the usage
// text, execute the enabled modules, and end through the platform shutdown.
#include "Main.h"

#include "FileIO.h"
#include "GlobalVariable.h"
#include "uaflib.h"
#include "usagehead.h"
#include "../platform/platformlnx.h"

QX3_ARGV_LIST ArgvItemList;
QX3_QUEUE_LIST QueueItemList;
int g_LastErrorCode = 0;

CLEAN_UP_HOOK CleanFlashIfcHook = nullptr;
CLEAN_UP_HOOK CleanUpFileHubHook = nullptr;
CLEAN_UP_HOOK CleanMemMgrHook = nullptr;
CLEAN_UP_HOOK CleanBiosInfoHook = nullptr;
CLEAN_UP_HOOK CleanAddBootOptionHook = nullptr;
CLEAN_UP_HOOK CleanDelBootOptionHook = nullptr;
CLEAN_UP_HOOK CleanGetBootOptionHook = nullptr;
CLEAN_UP_HOOK CleanSetFirstBootOptionHook = nullptr;
CLEAN_UP_HOOK PtrLastCleanUpResourceHook = nullptr;
static CLEAN_UP_HOOK PtrLastCleanUpResourceHook2 = nullptr;

static REGISTER_QUEUE_ITEM_FUNC PtrLastQueueItem = nullptr;
static GUI_INIT_HOOK PtrLastGuiInitHook = nullptr;

void InitializeLibs()
{
    ArgvItemList.init();
    QueueItemList.init();
    InitializeFileHub();
}

void InitializeGlobalVariables()
{
    INIT_GLOBAL_VARIABLE_HOOK chain[] = {InitWriteOut, InitErrorOut, PtrLastInitGlobalVariableHook};
    for (INIT_GLOBAL_VARIABLE_HOOK hook : chain) {
        if (hook == nullptr)
            break;
        hook();
    }
}

void PutArgvIntoList(QX3_ARGV_LIST& args, int argc, char** argv)
{
    for (int i = 0; i < argc; i++) {
        QX3_ARGV_ITEM* item = new QX3_ARGV_ITEM;
        item->text = argv[i];
        item->consumed = false;
        args.push_back(item);
    }
}

void RegisterQueueItem(QX3_QUEUE_LIST& modules, QX3_QUEUE_ITEM* item, ENUM_MODULE_ID id, uint16_t priority, bool enable,
                       PARSING_COMMAND_FUNC parse, EXECUTION_ACTION_FUNC execute, COMMAND_HELP_FUNC help)
{
    item->ModuleId = id;
    item->ParsingCommand = parse;
    item->ExecutionAction = execute;
    item->Help = help;
    item->ErrorAction = nullptr;
    item->bEnable = enable;
    item->bStopParsing = false;
    item->Priority = priority;
    modules.push_back(item);
}

// Registers the modules in their fixed order; this order is also the order
// of parsing, execution and help.
int InitializeModules()
{
    REGISTER_QUEUE_ITEM_FUNC chain[] = {
        RegisterInitBiosInfoQueueItem,       RegisterSecureFlashQueueItem,       RegisterusageheadQueueItem,
        RegisterGetTypeDAQueueItem,          RegisterAddBootOptionQueueItem,     RegisterDelBootOptionQueueItem,
        RegisterGetBootOptionQueueItem,      RegisterGetBootOrderQueueItem,      RegisterGetModeQueueItem,
        RegisterSetFirstBootOptionQueueItem, RegisterSetFirstBootOrderQueueItem, RegisterSetModeQueueItem,
        RegisterSetSecureBootQueueItem,      RegisterusagefootQueueItem,         PtrLastQueueItem,
    };
    for (REGISTER_QUEUE_ITEM_FUNC slot : chain) {
        if (slot == nullptr)
            break;
        int result = slot(QueueItemList);
        if (result != 0)
            return result;
    }
    return 0;
}

bool CheckGuiInitialize(int argc, char** argv, QX3_ARGV_LIST& args, QX3_QUEUE_LIST& modules)
{
    GUI_INIT_HOOK chain[] = {PtrLastGuiInitHook};
    for (GUI_INIT_HOOK hook : chain) {
        if (hook == nullptr)
            break;
        if (hook(argc, argv, args, modules))
            return true;
    }
    return false;
}

void ParseUserInput()
{
    for (unsigned int i = 0; i < QueueItemList.size(); i++) {
        QX3_QUEUE_ITEM* module = QueueItemList[i];
        if (module->ParsingCommand == nullptr)
            continue;
        g_LastErrorCode = module->ParsingCommand(ArgvItemList, module);
        if (g_LastErrorCode != 0)
            return;
        if (module->bStopParsing && module->bEnable)
            return;
    }
}

void ExecuteEnabledModules()
{
    for (unsigned int i = 0; i < QueueItemList.size(); i++) {
        QX3_QUEUE_ITEM* module = QueueItemList[i];
        if (module->ExecutionAction != nullptr && module->bEnable)
            g_LastErrorCode = module->ExecutionAction(QueueItemList);
        if (g_LastErrorCode != 0) {
            if (module->ErrorAction != nullptr)
                module->ErrorAction();
            return;
        }
    }
}

// Prints the usage text from every module's help entry (header pass, the
// options line, listing pass), names the unclaimed word if there is one, and
// ends the run.
void TerminateWithoutExecution(char* word)
{
    for (unsigned int i = 0; i < QueueItemList.size(); i++) {
        if (QueueItemList[i]->Help != nullptr)
            QueueItemList[i]->Help(true);
    }
    WriteOut(USAGE_OPTIONS_LINE);
    for (unsigned int i = 0; i < QueueItemList.size(); i++) {
        if (QueueItemList[i]->Help != nullptr)
            QueueItemList[i]->Help(false);
    }
    if (word != nullptr) {
        WriteOut("Unknown command or option : %s\n", word);
        g_LastErrorCode = QX3_ERR_UNKNOWN_COMMAND;
    }
    PlatformFinalize(ArgvItemList);
}

void CleanUpArgvList()
{
    for (unsigned int i = 0; i < ArgvItemList.size(); i++)
        delete ArgvItemList[i];
    ArgvItemList.clear();
}

void CleanAll()
{
    CleanUpArgvList();
    QueueItemList.clear();
    CLEAN_UP_HOOK chain[] = {
        CleanFlashIfcHook,          CleanUpFileHubHook,          CleanMemMgrHook,        CleanBiosInfoHook,
        CleanAddBootOptionHook,     CleanDelBootOptionHook,      CleanGetBootOptionHook, CleanSetFirstBootOptionHook,
        PtrLastCleanUpResourceHook, PtrLastCleanUpResourceHook2,
    };
    for (CLEAN_UP_HOOK hook : chain) {
        if (hook != nullptr)
            hook();
    }
}

int main(int argc, char** argv)
{
    InitializeLibs();
    InitializeGlobalVariables();
    PutArgvIntoList(ArgvItemList, argc, argv);

    g_LastErrorCode = LoadRiz(argc, argv);
    if (g_LastErrorCode != 0)
        PlatformFinalize(ArgvItemList);

    g_LastErrorCode = PlatformInitialize(ArgvItemList);
    if (g_LastErrorCode != 0)
        PlatformFinalize(ArgvItemList);

    g_LastErrorCode = InitializeModules();
    if (g_LastErrorCode != 0)
        PlatformFinalize(ArgvItemList);

    if (!CheckGuiInitialize(argc, argv, ArgvItemList, QueueItemList)) {
        ParseUserInput();
        if (g_LastErrorCode != 0)
            TerminateWithoutExecution(nullptr);
        if (ArgvItemList.size() == 1)
            TerminateWithoutExecution(nullptr);
        for (unsigned int i = 1; i < ArgvItemList.size(); i++) {
            if (!ArgvItemList[i]->consumed)
                TerminateWithoutExecution(ArgvItemList[i]->text);
        }
        ExecuteEnabledModules();
    }
    PlatformFinalize(ArgvItemList);
}

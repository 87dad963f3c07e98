// The run's pipeline: process-wide lists, last error code and hook slots.
#ifndef MAIN_H
#define MAIN_H

#include "QX3Types.h"

extern QX3_ARGV_LIST ArgvItemList;
extern QX3_QUEUE_LIST QueueItemList;
extern int g_LastErrorCode;

// Clean-up slots, visited in this order by CleanAll; each owner installs its
// function when it starts. Null slots are skipped.
extern CLEAN_UP_HOOK CleanFlashIfcHook;
extern CLEAN_UP_HOOK CleanUpFileHubHook;
extern CLEAN_UP_HOOK CleanMemMgrHook;
extern CLEAN_UP_HOOK CleanBiosInfoHook;
extern CLEAN_UP_HOOK CleanAddBootOptionHook;
extern CLEAN_UP_HOOK CleanDelBootOptionHook;
extern CLEAN_UP_HOOK CleanGetBootOptionHook;
extern CLEAN_UP_HOOK CleanSetFirstBootOptionHook;
extern CLEAN_UP_HOOK PtrLastCleanUpResourceHook;

// Registration slots, each defined by its module's unit and statically set to
// that unit's RegisterFunction.
extern REGISTER_QUEUE_ITEM_FUNC RegisterInitBiosInfoQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterSecureFlashQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterusageheadQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterGetTypeDAQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterAddBootOptionQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterDelBootOptionQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterGetBootOptionQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterGetBootOrderQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterGetModeQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterSetFirstBootOptionQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterSetFirstBootOrderQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterSetModeQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterSetSecureBootQueueItem;
extern REGISTER_QUEUE_ITEM_FUNC RegisterusagefootQueueItem;

// Fills a module's record as every module registers it (no error action,
// parsing never stopped, bEnable as given) and appends it to the module list.
void RegisterQueueItem(QX3_QUEUE_LIST& modules, QX3_QUEUE_ITEM* item, ENUM_MODULE_ID id, uint16_t priority, bool enable,
                       PARSING_COMMAND_FUNC parse, EXECUTION_ACTION_FUNC execute, COMMAND_HELP_FUNC help);

void InitializeLibs();
void InitializeGlobalVariables();
void PutArgvIntoList(QX3_ARGV_LIST& args, int argc, char** argv);
int InitializeModules();
bool CheckGuiInitialize(int argc, char** argv, QX3_ARGV_LIST& args, QX3_QUEUE_LIST& modules);
void ParseUserInput();
void ExecuteEnabledModules();
[[noreturn]] void TerminateWithoutExecution(char* word);
void CleanAll();
void CleanUpArgvList();

#endif

// Secure-flash module, the second module of every run. It takes no words,
// prints at most the firmware's message line and never fails the run.
#include "dore_secureflash.h"

#include "../framework/Main.h"

static int RegisterFunction(QX3_QUEUE_LIST& modules);
REGISTER_QUEUE_ITEM_FUNC RegisterSecureFlashQueueItem = RegisterFunction;

static QX3_QUEUE_ITEM SecureFlashQueueItem;

bool IsSecureFlashSupported = false;
FLASH_POLICY_INFO_BLOCK FlashPolicyBlock;

bool FLASH_InitialSecureFlashPolicy()
{
    return DORE_GetSupportedPolicy(&FlashPolicyBlock);
}

static int ExecutionActionFunction(QX3_QUEUE_LIST& /*modules*/)
{
    IsSecureFlashSupported = FLASH_InitialSecureFlashPolicy();
    return 0;
}

static int RegisterFunction(QX3_QUEUE_LIST& modules)
{
    RegisterQueueItem(modules, &SecureFlashQueueItem, MODULE_ID_SECURE_FLASH, 0x6000, true, nullptr,
                      ExecutionActionFunction, nullptr);
    IsSecureFlashSupported = false;
    return 0;
}

// SetFirstBootOption module ("/SetFirstBootOption <label>", "/SFBOP"): makes
// the UEFI boot option with the given label the first to boot (after the next
// reboot). UEFI mode only.
#include "LabelCommand.h"
#include "../firmware/oshook.h"

static QX3_QUEUE_ITEM SetFirstBootOptionQueueItem;

// Words, request, errors and texts; the label's text area exists from
// program start.
static LABEL_COMMAND SetFirstBootOption = {
    {"SetFirstBootOption", "SFBOP", 3},
    MODULE_ID_SET_FIRST_BOOT_OPTION,
    &SetFirstBootOptionFlag,
    &CleanSetFirstBootOptionHook,
    {SMI_SELECT_SET_FIRST_BOOT_OPTION, QX3_ERR_NO_SET_FIRST_BOOT_OPTION, QX3_ERR_SET_FIRST_BOOT_OPTION},
    " Set First Boot Option : %s\n",
    "\nNOTICE : Reboot the system to activate the change\n",
    "|%*s - Set First Boot Option                               |\n",
    &SetFirstBootOptionQueueItem,
    (char*)AllocMem(BOOT_OPTION_TEXT_AREA),
    nullptr};

REGISTER_QUEUE_ITEM_FUNC RegisterSetFirstBootOptionQueueItem = RegisterLabelCommand<&SetFirstBootOption>;

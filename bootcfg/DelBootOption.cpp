// DelBootOption module ("/DelBootOption <label>", "/DBOP"): deletes the UEFI
// boot option with the given label. UEFI mode only.
#include "LabelCommand.h"
#include "../firmware/oshook.h"

static QX3_QUEUE_ITEM DelBootOptionQueueItem;

// Words, request, errors and texts; the label's text area exists from
// program start.
static LABEL_COMMAND DelBootOption = {{"DelBootOption", "DBOP", 3},
                                      MODULE_ID_DEL_BOOT_OPTION,
                                      &DelBootOptionFlag,
                                      &CleanDelBootOptionHook,
                                      {SMI_SELECT_DEL_BOOT_OPTION, QX3_ERR_NO_DEL_BOOT_OPTION, QX3_ERR_DEL_BOOT_OPTION},
                                      " Delete Boot Option : %s\n",
                                      nullptr,
                                      "|%*s - Delet Boot Option                                   |\n",
                                      &DelBootOptionQueueItem,
                                      (char*)AllocMem(BOOT_OPTION_TEXT_AREA),
                                      nullptr};

REGISTER_QUEUE_ITEM_FUNC RegisterDelBootOptionQueueItem = RegisterLabelCommand<&DelBootOption>;

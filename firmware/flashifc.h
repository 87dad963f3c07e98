// The firmware's SMI flash interface: opening, flash information, closing,
// and the mailbox SMI.
#ifndef FLASHIFC_H
#define FLASHIFC_H

#include "biosinfo.h"

// Byte of the shared buffer holding the opening status.
#define FLASH_OPEN_STATUS_OFFSET 16
#define FLASH_OPEN_WRITE_PROTECTED 1
#define FLASH_OPEN_NO_POWER_CORD 2
#define FLASH_OPEN_PLATFORM_CONDITION 3

#define ROM_INFO_LATEST_LAYOUT 12

extern bool SmiFlashEnabled;

int EnableFlashIfc();
int GetFlashInfo(sROMInfo** info);
void CleanFlashIfc();
void CallOemSmi(unsigned char code);

#endif

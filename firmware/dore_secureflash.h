// Secure-flash module: asks the firmware for its secure-flash policy in
// every run that reaches execution.
#ifndef DORE_SECUREFLASH_H
#define DORE_SECUREFLASH_H

#include "secureflashlib.h"

extern bool IsSecureFlashSupported;
extern FLASH_POLICY_INFO_BLOCK FlashPolicyBlock;

bool FLASH_InitialSecureFlashPolicy();

#endif

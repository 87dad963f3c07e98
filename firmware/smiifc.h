// The flash-interface SMIs: one function code written to the SMI command
// port found at start-up (gSmiPort).
#ifndef SMIIFC_H
#define SMIIFC_H

#define SMI_ENABLE_FLASH 0x20
#define SMI_DISABLE_FLASH 0x24
#define SMI_GET_FLASH_INFO 0x25
#define SMI_OEM_DORE 0x26

void SMI_EnableFlash();
void SMI_GetFlashInfo();
void SMI_DisableFlash();
void SMI_OemSmi(unsigned char code);

#endif

// The secure-flash policy request through the DORE mailbox.
#ifndef SECUREFLASHLIB_H
#define SECUREFLASHLIB_H

#include <stdint.h>

// Sub-function of the type 0x70 record: report the supported policy.
#define DORE_SECURE_FLASH_GET_POLICY 4
// The request presets the completion status; the firmware clears it.
#define FLASH_POLICY_PENDING 1

#pragma pack(push, 1)
struct FLASH_POLICY_INFO_BLOCK {
    uint16_t SupportedPolicy;
    uint8_t BiosPublicKey[256];
    uint8_t Status; // 0 when the firmware delivered the policy
};
#pragma pack(pop)
static_assert(sizeof(FLASH_POLICY_INFO_BLOCK) == 259, "FLASH_POLICY_INFO_BLOCK is 259 bytes");

bool DORE_GetSupportedPolicy(FLASH_POLICY_INFO_BLOCK* block);
unsigned char* DOREHeaderGen(unsigned char subFunction);
void SWSMI_SECFLASH();
void DORE_Message();

#endif

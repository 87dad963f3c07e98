// BIOS information module: chooses the port of the flash-interface SMIs,
// allocates the shared SMI buffer, and reads the flash information.
#ifndef BIOSINFO_H
#define BIOSINFO_H

#include <stdint.h>

// Size of the shared SMI buffer; every firmware answer lies within it.
#define SMI_BUFFER_SIZE 0x10000u

// Layouts up to this version carry the block entries at offset 8, later
// ones at offset 16.
#define ROM_INFO_OLD_LAYOUT_LAST 10
#define ROM_INFO_OLD_ENTRIES_OFFSET 8
#define ROM_INFO_ENTRIES_OFFSET 16

#define FLASH_CHIP_NAME_SIZE 48
#define FPS_NAME_DISTANCE 8   // from "$FPS" to the flash part name
#define BPT_LENGTH_DISTANCE 4 // from "$BPT" to the project-identifier length
#define PROJECT_ID_LENGTH_UNKNOWN 0xFF

#pragma pack(push, 1)

// One flash block of the flash information.
struct FLASH_BLOCK_ENTRY {
    uint32_t StartAddress;
    uint32_t Size;
    uint8_t Type;
};
static_assert(sizeof(FLASH_BLOCK_ENTRY) == 9, "block entry is 9 bytes");

// Head of the flash information as the firmware leaves it at offset 0 of the
// shared buffer. Reserved is present from layout 11 on; up to layout 10 the
// block entries start in its place.
struct sROMInfo {
    uint32_t Size;   // answer area; the request sets 0x10000
    uint8_t Status;  // the request sets 1, the firmware clears it
    uint8_t Version; // layout version
    uint16_t BlockCount;
    uint8_t Reserved[8];
};
static_assert(sizeof(sROMInfo) == ROM_INFO_ENTRIES_OFFSET, "sROMInfo head is 16 bytes");

#pragma pack(pop)

extern uint16_t gSmiPort;
extern unsigned char* m_BIOSBuf;
extern unsigned char* g_ASFData;
extern sROMInfo* gpFlashInfo;
extern uint32_t gRomSize;
extern unsigned char m_FlashChipName[FLASH_CHIP_NAME_SIZE];
extern uint8_t g_OnBoardROMProjectIDLength;
extern bool g_OnBoardRomIsVeltoV;

void CleanBiosInfo();
uint16_t GetSystemSmiPort();
void GetSystemFlashChipID(unsigned char* buffer, unsigned int size);
void GetSystemROMIDLength(unsigned char* buffer, unsigned int size);
int CopyBiosInfoToAnotherBuffer(sROMInfo* info);
uint32_t CalculateRomSize();

#endif

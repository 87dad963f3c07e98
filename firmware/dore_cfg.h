// DORE mailbox requests: the header builder and the protocol version query.
// A request is a descriptor, one extension header with its data records,
// and an end marker, built from a zero-filled buffer.
#ifndef DORE_CFG_H
#define DORE_CFG_H

#include <stdint.h>

#define DORE_SIGNATURE 0x45524F44u // "DORE"
#define DORE_END_MARKER 0xFFFF55AAu
#define DORE_PLATFORM_TYPE_CODE 4

// Status bits written by the firmware.
#define DORE_STATUS_HANDLED 0x01
#define DORE_STATUS_ERROR 0x08
#define DORE_STATUS_MESSAGE 0x10

// Function bits of the descriptor.
#define DORE_FUNCTION_VERSION 0x00
#define DORE_FUNCTION_SECURE_FLASH 0x40

// Extension types this program sends.
#define DORE_TYPE_VERSION 0x00
#define DORE_TYPE_SECURE_FLASH 0x70

// Type 0x55 records grew after this protocol version.
#define DORE_TYPE_55_GROWN_AFTER 0x20F

// The version query is built in a block of its own and copied to the
// shared buffer.
#define DORE_VERSION_BLOCK_SIZE 1028
#define DORE_VERSION_REQUEST_SIZE 1024

#pragma pack(push, 1)

struct DORE_DESC_HEADER {
    uint32_t Signature;
    uint16_t Version;       // g_DoreVer; the version query's answer
    uint16_t RunningOffset; // where the next header goes; the message text in an answer
    uint32_t FunctionBit;
    uint16_t Status; // DORE_STATUS_* bits, written by the firmware
    uint16_t DescSize;
    uint16_t PlatformType;
};
static_assert(sizeof(DORE_DESC_HEADER) == 18, "DORE descriptor is 18 bytes");

struct DORE_EXT_HEADER {
    uint8_t Type;
    uint8_t Count;       // data records that follow
    uint16_t RecordSize; // size of one record, 0 for a type without records
};
static_assert(sizeof(DORE_EXT_HEADER) == 4, "DORE extension header is 4 bytes");

struct DORE_END_HEADER {
    uint32_t Marker; // DORE_END_MARKER
};
static_assert(sizeof(DORE_END_HEADER) == 4, "DORE end marker is 4 bytes");

#pragma pack(pop)

// Platform facts written into every descriptor.
struct DORE_PLATFORM_TYPE {
    uint16_t Code;
};

extern uint16_t g_DoreVer;
extern const DORE_PLATFORM_TYPE g_PlatformType;

// Size of one data record of a type; false for a type without records.
bool Dore_RecordSize(unsigned char type, uint16_t* size);

void Dore_Desc_Header(unsigned char* buffer, unsigned int functionBit);
void Dore_Ext_Header(unsigned char* buffer, unsigned char type, unsigned char count);
void Dore_TC_End_Header(unsigned char* buffer, unsigned char type, unsigned char count);
uint16_t Dore_GetVer();
int Dore_VersionCheck();
void Dore_SMI_26();

#endif

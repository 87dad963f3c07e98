// The "$ASF" structure in the BIOS area and the legacy SMI port lookup.
#ifndef UNIVERSALPLATFORM_H
#define UNIVERSALPLATFORM_H

#include <stdint.h>

// The 64 KiB BIOS area.
#define BIOS_AREA_PHYS 0xF0000u
#define BIOS_AREA_SIZE 0x10000u

// Port used when neither the ACPI tables nor the BIOS area name one.
#define DEFAULT_SMI_PORT 0xB2

#define ASF_SIGNATURE "$ASF"

#pragma pack(push, 1)
struct ASF_HEADER {
    char Signature[4];  // "$ASF"
    uint8_t DataOffset; // distance from the signature to the data area
    uint8_t Reserved[7];
    uint16_t SmiPort;
};
#pragma pack(pop)
static_assert(sizeof(ASF_HEADER) == 14, "ASF_HEADER is 14 bytes");

// Last offset in the BIOS area at which a whole ASF_HEADER fits.
#define ASF_LAST_OFFSET (BIOS_AREA_SIZE - sizeof(ASF_HEADER))

int QX3_GetAsfTable(ASF_HEADER* header);
int QX3_GetLegacySmiPort(unsigned short* port);

#endif

// ACPI tables in physical memory: the RSDP, the RSDT and XSDT root tables,
// table lookup by signature and the SMI command port named by the FADT.
#ifndef ACPIHELPERLNX_H
#define ACPIHELPERLNX_H

#include <stdint.h>

#define ACPI_SIG_FACP 0x50434146u // "FACP"
#define ACPI_SIG_DSDT 0x54445344u // "DSDT"

// The RSDP lies on a 16-byte boundary somewhere in 0xE0000-0xFFFFF.
#define ACPI_RSDP_AREA_PHYS 0xE0000u
#define ACPI_RSDP_AREA_SIZE 0x20000u

// Entries of a root table kept in its copy; further entries are read from
// the table in physical memory when a lookup needs them.
#define ACPI_ROOT_COPY_ENTRIES 16
// Most entries a root table is taken to list, whatever its Length says.
#define ACPI_ROOT_MAX_ENTRIES 4096
#define ACPI_FADT_COPY_SIZE 244

#pragma pack(push, 1)

struct ACPI_TABLE_HEADER {
    uint32_t Signature;
    uint32_t Length; // whole table, header included
    uint8_t Revision;
    uint8_t Checksum;
    char OemId[6];
    char OemTableId[8];
    uint32_t OemRevision;
    uint32_t CreatorId;
    uint32_t CreatorRevision;
};
static_assert(sizeof(ACPI_TABLE_HEADER) == 36, "ACPI table header is 36 bytes");

struct ACPI_RSDP {
    char Signature[8]; // "RSD PTR "
    uint8_t Checksum;
    char OemId[6];
    uint8_t Revision;
    uint32_t RsdtAddress;
    uint32_t Length;
    uint64_t XsdtAddress; // only the low 32 bits are used
    uint8_t ExtendedChecksum;
    uint8_t Reserved[3];
};
static_assert(sizeof(ACPI_RSDP) == 36, "RSDP is 36 bytes");

struct ACPI_RSDT {
    ACPI_TABLE_HEADER Header;
    uint32_t Entry[ACPI_ROOT_COPY_ENTRIES];
};
static_assert(sizeof(ACPI_RSDT) == 100, "RSDT copy is 100 bytes");

struct ACPI_XSDT {
    ACPI_TABLE_HEADER Header;
    uint64_t Entry[ACPI_ROOT_COPY_ENTRIES];
};
static_assert(sizeof(ACPI_XSDT) == 164, "XSDT copy is 164 bytes");

struct ACPI_FADT {
    ACPI_TABLE_HEADER Header;
    uint32_t FirmwareCtrl;
    uint32_t Dsdt;
    uint8_t Reserved0;
    uint8_t PreferredPmProfile;
    uint16_t SciInt;
    uint32_t SmiCmd; // the port is the low 16 bits
    uint8_t Rest[ACPI_FADT_COPY_SIZE - 52];
};
static_assert(sizeof(ACPI_FADT) == ACPI_FADT_COPY_SIZE, "FADT copy is 244 bytes");

#pragma pack(pop)

extern ACPI_RSDP RsdPtr;
extern ACPI_RSDT Rsdt;
extern ACPI_XSDT Xsdt;
extern ACPI_FADT Fadt;
extern bool RsdPtrInit;
extern bool RsdtInit;
extern bool XsdtInit;
extern bool FadtInit;

unsigned char* QX3_AcpiMapMem(unsigned int phys, unsigned int len);
void QX3_AcpiUnmapMem(unsigned char* p, unsigned int len);
unsigned char* QX3_GetAcpiTableImpl(unsigned char* dest, unsigned int phys, unsigned int len);
bool QX3_GetAcpiRsdtXsdt();
bool QX3_GetAcpiFadt();
unsigned int QX3_GetGenericAcpiTable(unsigned int signature, void* buffer, unsigned int size);
unsigned int QX3_GetAcpiTable(unsigned int signature, void* buffer, unsigned int size);
int QX3_GetAcpiSmiPort(unsigned short* port);

#endif

// ACPI lookup for the SMI command port. Physical memory is read through
// short-lived read-only mappings of /dev/mem of its own, so the lookup also
// works before the memory manager is open (the memory-hole loader runs then).
#include "acpihelperlnx.h"

#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "../framework/QX3Types.h"
#include "../platform/smidevice.h"

ACPI_RSDP RsdPtr;
ACPI_RSDT Rsdt;
ACPI_XSDT Xsdt;
ACPI_FADT Fadt;
bool RsdPtrInit = false;
bool RsdtInit = false;
bool XsdtInit = false;
bool FadtInit = false;

static unsigned int AcpiPageSize()
{
    return (unsigned int)sysconf(_SC_PAGESIZE);
}

unsigned char* QX3_AcpiMapMem(unsigned int phys, unsigned int len)
{
    unsigned int off = phys % AcpiPageSize();
    // Through the SMI module its device serves the window (read-only, shared).
    bool smiModule = gSmiDeviceFd != -1;
    int fd = smiModule ? fcntl(gSmiDeviceFd, F_DUPFD_CLOEXEC, 0) : open("/dev/mem", O_RDONLY);
    if (fd == -1)
        return nullptr;
    void* p =
        mmap(nullptr, (size_t)len + off, PROT_READ, smiModule ? MAP_SHARED : MAP_PRIVATE, fd, (off_t)(phys - off));
    close(fd);
    if (p == MAP_FAILED)
        return nullptr;
    return (unsigned char*)p + off;
}

void QX3_AcpiUnmapMem(unsigned char* p, unsigned int len)
{
    unsigned int off = (unsigned int)((uintptr_t)p % AcpiPageSize());
    munmap(p - off, (size_t)len + off);
}

// Copies len bytes of physical memory at phys to dest. The contents are not
// validated: the read counts as successful whenever the mapping works.
unsigned char* QX3_GetAcpiTableImpl(unsigned char* dest, unsigned int phys, unsigned int len)
{
    unsigned char* p = QX3_AcpiMapMem(phys, len);
    if (p == nullptr)
        return nullptr;
    memcpy(dest, p, len);
    QX3_AcpiUnmapMem(p, len);
    return dest;
}

// Finds the RSDP (the last "RSD PTR " on a 16-byte boundary of the area
// wins; neither checksum nor revision is tested) and copies the start of the
// RSDT and the XSDT. A signature so close to the area's end that the RSDP
// would run past it is passed over. Once the RSDP was found it is not
// looked for again.
bool QX3_GetAcpiRsdtXsdt()
{
    if (RsdPtrInit)
        return true;
    memset(&RsdPtr, 0, sizeof(RsdPtr));
    memset(&Rsdt, 0, sizeof(Rsdt));
    memset(&Xsdt, 0, sizeof(Xsdt));

    unsigned char* area = QX3_AcpiMapMem(ACPI_RSDP_AREA_PHYS, ACPI_RSDP_AREA_SIZE);
    if (area == nullptr)
        return false;
    for (unsigned int off = 0; off <= ACPI_RSDP_AREA_SIZE - sizeof(RsdPtr); off += 16) {
        if (memcmp(area + off, "RSD PTR ", 8) == 0) {
            memcpy(&RsdPtr, area + off, sizeof(RsdPtr));
            RsdPtrInit = true;
        }
    }
    QX3_AcpiUnmapMem(area, ACPI_RSDP_AREA_SIZE);

    if (RsdPtrInit) {
        RsdtInit = QX3_GetAcpiTableImpl((unsigned char*)&Rsdt, RsdPtr.RsdtAddress, sizeof(Rsdt)) != nullptr;
        XsdtInit = QX3_GetAcpiTableImpl((unsigned char*)&Xsdt, (uint32_t)RsdPtr.XsdtAddress, sizeof(Xsdt)) != nullptr;
    }
    return RsdPtrInit && RsdtInit && XsdtInit;
}

// Outcome of walking one root table.
enum ROOT_WALK_RESULT { ROOT_WALK_NO_MATCH, ROOT_WALK_MATCH, ROOT_WALK_READ_FAILED };

// One root table (RSDT: 4-byte entries, XSDT: 8-byte entries of which the
// low 32 bits are used) as copied, and where it lies in physical memory.
struct ACPI_ROOT_VIEW {
    const ACPI_TABLE_HEADER* Header;
    const unsigned char* CopyEntries;
    unsigned int EntrySize;
    uint32_t TablePhys;
};

// The physical address of entry index. The copy holds the first 16 entries;
// an entry beyond them is read from the table itself, so nothing is read
// past the copy.
static bool RootEntryAddress(const ACPI_ROOT_VIEW& root, unsigned int index, uint32_t* address)
{
    unsigned char entry[8] = {0};
    if (index < ACPI_ROOT_COPY_ENTRIES) {
        memcpy(entry, root.CopyEntries + (size_t)index * root.EntrySize, root.EntrySize);
    } else {
        uint32_t phys = root.TablePhys + (uint32_t)sizeof(ACPI_TABLE_HEADER) + index * root.EntrySize;
        if (QX3_GetAcpiTableImpl(entry, phys, root.EntrySize) == nullptr)
            return false;
    }
    memcpy(address, entry, sizeof(*address));
    return true;
}

static ROOT_WALK_RESULT WalkRootTable(const ACPI_ROOT_VIEW& root, unsigned int signature, void* buffer,
                                      unsigned int size, unsigned int* length)
{
    // A table too short for its own header lists nothing. Its entries lie
    // in the table below 4 GiB, and there are at most ACPI_ROOT_MAX_ENTRIES:
    // a Length beyond that names entries that don't exist.
    uint32_t tableLength = root.Header->Length;
    unsigned int count = 0;
    if (tableLength > sizeof(ACPI_TABLE_HEADER))
        count = (tableLength - (uint32_t)sizeof(ACPI_TABLE_HEADER)) / root.EntrySize;
    const uint64_t firstEntry = (uint64_t)root.TablePhys + sizeof(ACPI_TABLE_HEADER);
    const uint64_t room = firstEntry < 0x100000000ull ? (0x100000000ull - firstEntry) / root.EntrySize : 0;
    if (count > room)
        count = (unsigned int)room;
    if (count > ACPI_ROOT_MAX_ENTRIES)
        count = ACPI_ROOT_MAX_ENTRIES;

    for (unsigned int i = 0; i < count; i++) {
        uint32_t address;
        if (!RootEntryAddress(root, i, &address))
            return ROOT_WALK_READ_FAILED;
        ACPI_TABLE_HEADER header;
        if (QX3_GetAcpiTableImpl((unsigned char*)&header, address, sizeof(header)) == nullptr)
            return ROOT_WALK_READ_FAILED;
        if (header.Signature != signature)
            continue;
        if (header.Length <= size && QX3_GetAcpiTableImpl((unsigned char*)buffer, address, header.Length) == nullptr)
            return ROOT_WALK_READ_FAILED;
        *length = header.Length;
        return ROOT_WALK_MATCH;
    }
    return ROOT_WALK_NO_MATCH;
}

// Looks a table up by signature in the RSDT, then in the XSDT: a table
// listed in both is taken from the RSDT. The table is copied only when it
// fits; its length is returned either way. 0: not found, or a read failed.
unsigned int QX3_GetGenericAcpiTable(unsigned int signature, void* buffer, unsigned int size)
{
    if (!QX3_GetAcpiRsdtXsdt())
        return 0;
    unsigned int length = 0;
    if (RsdtInit) {
        ACPI_ROOT_VIEW root = {&Rsdt.Header, (const unsigned char*)Rsdt.Entry, 4, RsdPtr.RsdtAddress};
        ROOT_WALK_RESULT r = WalkRootTable(root, signature, buffer, size, &length);
        if (r == ROOT_WALK_MATCH)
            return length;
        if (r == ROOT_WALK_READ_FAILED)
            return 0;
    }
    if (XsdtInit) {
        ACPI_ROOT_VIEW root = {&Xsdt.Header, (const unsigned char*)Xsdt.Entry, 8, (uint32_t)RsdPtr.XsdtAddress};
        if (WalkRootTable(root, signature, buffer, size, &length) == ROOT_WALK_MATCH)
            return length;
    }
    return 0;
}

// The DSDT is not listed in the root tables: the FADT points at it.
unsigned int QX3_GetAcpiTable(unsigned int signature, void* buffer, unsigned int size)
{
    if (signature != ACPI_SIG_DSDT)
        return QX3_GetGenericAcpiTable(signature, buffer, size);

    if (!FadtInit && !QX3_GetAcpiFadt())
        return 0;
    ACPI_TABLE_HEADER header;
    if (QX3_GetAcpiTableImpl((unsigned char*)&header, Fadt.Dsdt, sizeof(header)) == nullptr)
        return 0;
    if (header.Length <= size && QX3_GetAcpiTableImpl((unsigned char*)buffer, Fadt.Dsdt, header.Length) == nullptr)
        return 0;
    return header.Length;
}

// Settles the FADT copy. An FADT longer than the copy is not taken and is
// looked for again next time; a missing FADT settles the copy as all zero.
bool QX3_GetAcpiFadt()
{
    unsigned int n = QX3_GetAcpiTable(ACPI_SIG_FACP, &Fadt, sizeof(Fadt));
    if (n <= sizeof(Fadt))
        FadtInit = true;
    return FadtInit;
}

int QX3_GetAcpiSmiPort(unsigned short* port)
{
    *port = 0;
    if (FadtInit || QX3_GetAcpiFadt())
        *port = (unsigned short)(Fadt.SmiCmd & 0xFFFF);
    return *port != 0 ? 0 : (int)QX3_ERR_INVALID_SMI;
}

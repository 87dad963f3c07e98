// Lays the platform's ACPI tables into physical memory: the RSDP in the BIOS
// area, RSDT and XSDT listing the tables, the FADT carrying the SMI command
// port, a DSDT, and optionally an older RSDP lower in the area whose tables
// name another port.
#ifndef FWEMU_ACPITABLES_H
#define FWEMU_ACPITABLES_H

#include <cstdint>

#include <nlohmann/json.hpp>

#include "PhysicalMemory.h"
#include "PlatformDescription.h"

namespace fwemu {

struct AcpiLayout {
    uint32_t rsdp = 0;
    uint32_t rsdt = 0;
    uint32_t xsdt = 0; // 0 when the platform has no XSDT
    uint32_t fadt = 0;
    uint32_t dsdt = 0;
    uint32_t staleRsdp = 0;
    nlohmann::json toJson() const;
};

class AcpiTables {
public:
    static constexpr uint32_t kHeaderSize = 36;

    // Writes the tables; memory is expected to be zero where they go.
    static AcpiLayout build(const AcpiDescription& acpi, uint64_t area, PhysicalMemory& memory);

private:
    struct RootSet {
        uint32_t rsdt, xsdt, fadt;
    };
    static void header(ByteView table, const char* signature, uint32_t length, uint8_t revision);
    static void checksum(ByteView table, size_t at);
    static RootSet rootTables(const AcpiDescription& acpi, uint16_t smiCmd, uint64_t base, uint32_t dsdt,
                              uint32_t others, PhysicalMemory& memory);
    static void rsdp(ByteView at, uint32_t rsdt, uint32_t xsdt, bool checksumOk);
};

} // namespace fwemu

#endif

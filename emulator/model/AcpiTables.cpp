#include "AcpiTables.h"

#include <cstring>

namespace fwemu {

namespace {

// Placement inside the ACPI area (the top MiB of memory).
constexpr uint64_t kRsdtAt = 0x0000;
constexpr uint64_t kXsdtAt = 0x1000;
constexpr uint64_t kFadtAt = 0x2000;
constexpr uint64_t kDsdtAt = 0x3000;
constexpr uint64_t kOthersAt = 0x4000;
constexpr uint64_t kOtherStride = 0x40;
constexpr uint64_t kStaleAt = 0x10000; // the older RSDP's own RSDT, XSDT and FADT

uint8_t fadtRevision(uint32_t length)
{
    if (length >= 276)
        return 6;
    if (length >= 268)
        return 5;
    if (length >= 244)
        return 3;
    return 1;
}

} // namespace

nlohmann::json AcpiLayout::toJson() const
{
    return {{"rsdp", rsdp}, {"rsdt", rsdt}, {"xsdt", xsdt}, {"fadt", fadt}, {"dsdt", dsdt}, {"stale_rsdp", staleRsdp}};
}

void AcpiTables::header(ByteView table, const char* signature, uint32_t length, uint8_t revision)
{
    table.setBytes(0, signature, 4);
    table.setU32(4, length);
    table.setU8(8, revision);
    table.setBytes(10, "FWEMU ", 6);
    table.setBytes(16, "VIRTPLAT", 8);
    table.setU32(24, 1);
    table.setBytes(28, "FWEM", 4);
    table.setU32(32, 1);
}

void AcpiTables::checksum(ByteView table, size_t at)
{
    table.setU8(at, 0);
    table.setU8(at, uint8_t(0x100 - table.sum()));
}

AcpiTables::RootSet AcpiTables::rootTables(const AcpiDescription& acpi, uint16_t smiCmd, uint64_t base, uint32_t dsdt,
                                           uint32_t others, PhysicalMemory& memory)
{
    RootSet set{uint32_t(base + kRsdtAt), acpi.xsdt ? uint32_t(base + kXsdtAt) : 0u, uint32_t(base + kFadtAt)};

    ByteView fadt = memory.view(set.fadt, acpi.fadtLength);
    header(fadt, "FACP", acpi.fadtLength, fadtRevision(acpi.fadtLength));
    fadt.setU32(40, dsdt);
    fadt.setU32(48, smiCmd);
    if (acpi.fadtLength >= 54) {
        fadt.setU8(52, 0xA0); // ACPI_ENABLE
        fadt.setU8(53, 0xA1); // ACPI_DISABLE
    }
    if (acpi.fadtLength >= 148)
        fadt.setU64(140, dsdt); // X_DSDT
    checksum(fadt, 9);

    // Both root tables list the other tables first, then the FADT if the
    // platform says so.
    auto listed = [&](bool withFadt) {
        std::vector<uint32_t> entries;
        for (unsigned i = 0; i < acpi.otherTables; ++i)
            entries.push_back(others + uint32_t(i * kOtherStride));
        if (withFadt)
            entries.push_back(set.fadt);
        return entries;
    };
    std::vector<uint32_t> rsdtEntries = listed(acpi.fadtInRsdt);
    ByteView rsdt = memory.view(set.rsdt, kHeaderSize + 4 * rsdtEntries.size());
    header(rsdt, "RSDT", uint32_t(rsdt.size()), 1);
    for (size_t i = 0; i < rsdtEntries.size(); ++i)
        rsdt.setU32(kHeaderSize + 4 * i, rsdtEntries[i]);
    checksum(rsdt, 9);

    if (acpi.xsdt) {
        std::vector<uint32_t> xsdtEntries = listed(acpi.fadtInXsdt);
        ByteView xsdt = memory.view(set.xsdt, kHeaderSize + 8 * xsdtEntries.size());
        header(xsdt, "XSDT", uint32_t(xsdt.size()), 1);
        for (size_t i = 0; i < xsdtEntries.size(); ++i)
            xsdt.setU64(kHeaderSize + 8 * i, xsdtEntries[i]);
        checksum(xsdt, 9);
    }
    return set;
}

void AcpiTables::rsdp(ByteView at, uint32_t rsdt, uint32_t xsdt, bool checksumOk)
{
    at.setBytes(0, "RSD PTR ", 8);
    at.setBytes(9, "FWEMU ", 6);
    at.setU8(15, xsdt != 0 ? 2 : 0);
    at.setU32(16, rsdt);
    if (xsdt != 0) {
        at.setU32(20, 36);
        at.setU64(24, xsdt);
    }
    checksum(at.sub(0, 20), 8);
    if (xsdt != 0)
        checksum(at.sub(0, 36), 32);
    if (!checksumOk)
        at.setU8(8, uint8_t(at.u8(8) + 1));
}

AcpiLayout AcpiTables::build(const AcpiDescription& acpi, uint64_t area, PhysicalMemory& memory)
{
    AcpiLayout layout;
    layout.dsdt = uint32_t(area + kDsdtAt);
    header(memory.view(layout.dsdt, kHeaderSize), "DSDT", kHeaderSize, 2);
    checksum(memory.view(layout.dsdt, kHeaderSize), 9);

    const uint32_t others = uint32_t(area + kOthersAt);
    for (unsigned i = 0; i < acpi.otherTables; ++i) {
        ByteView t = memory.view(others + i * kOtherStride, kHeaderSize);
        header(t, "SSDT", kHeaderSize, 2);
        checksum(t, 9);
    }

    RootSet main = rootTables(acpi, acpi.fadtSmiCmd, area, layout.dsdt, others, memory);
    layout.rsdp = PlatformDescription::kRsdpAddress;
    layout.rsdt = main.rsdt;
    layout.xsdt = main.xsdt;
    layout.fadt = main.fadt;
    rsdp(memory.view(layout.rsdp, 36), main.rsdt, main.xsdt, acpi.rsdpChecksumOk);

    if (acpi.staleRsdpSmiCmd) {
        RootSet stale = rootTables(acpi, *acpi.staleRsdpSmiCmd, area + kStaleAt, layout.dsdt, others, memory);
        layout.staleRsdp = PlatformDescription::kStaleRsdpAddress;
        rsdp(memory.view(layout.staleRsdp, 36), stale.rsdt, stale.xsdt, true);
    }
    return layout;
}

} // namespace fwemu

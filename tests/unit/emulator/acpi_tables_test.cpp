// ACPI tables as a program finds them: "RSD PTR " on a 16-byte boundary in
// 0xE0000-0xFFFFF (the last one wins), RSDT and XSDT entries, the FADT with
// its length and SMI_CMD, checksums.
#include <gtest/gtest.h>

#include <vector>

#include "AcpiTables.h"
#include "TempMemory.h"

using namespace fwemu;

namespace {

constexpr uint64_t kMemory = 0x1000000;

struct Root {
    uint32_t rsdp = 0;
    std::vector<uint32_t> rsdpHits;
    uint8_t revision = 0;
    std::vector<uint32_t> rsdt, xsdt;
    uint32_t xsdtAddress = 0;
};

std::vector<uint32_t> entries(PhysicalMemory& m, uint32_t table, unsigned width)
{
    std::vector<uint32_t> out;
    const uint32_t length = m.view(table, 36).u32(4);
    for (uint32_t at = 36; at + width <= length; at += width)
        out.push_back(m.view(table + at, 4).u32(0));
    return out;
}

Root scan(PhysicalMemory& m)
{
    Root r;
    ByteView area = m.view(0xE0000, 0x20000);
    for (size_t off = 0; off + 8 < area.size(); off += 16)
        if (area.hasSignature(off, "RSD PTR "))
            r.rsdpHits.push_back(uint32_t(0xE0000 + off));
    if (r.rsdpHits.empty())
        return r;
    r.rsdp = r.rsdpHits.back();
    ByteView rsdp = m.view(r.rsdp, 36);
    r.revision = rsdp.u8(15);
    r.rsdt = entries(m, rsdp.u32(16), 4);
    r.xsdtAddress = uint32_t(rsdp.u64(24));
    if (r.xsdtAddress != 0)
        r.xsdt = entries(m, r.xsdtAddress, 8);
    return r;
}

uint16_t portOf(PhysicalMemory& m, uint32_t fadt)
{
    return uint16_t(m.view(fadt, 52).u32(48));
}

struct AcpiCase {
    const char* name;
    AcpiDescription acpi;
};

AcpiDescription make(uint32_t length, bool xsdt, bool inRsdt, bool inXsdt, unsigned others)
{
    AcpiDescription a;
    a.fadtSmiCmd = 0xB2;
    a.fadtLength = length;
    a.xsdt = xsdt;
    a.fadtInRsdt = inRsdt;
    a.fadtInXsdt = inXsdt;
    a.otherTables = others;
    return a;
}

class AcpiLayoutTest : public ::testing::TestWithParam<AcpiCase> {};

} // namespace

TEST_P(AcpiLayoutTest, RootTablesListWhatThePlatformSays)
{
    const AcpiDescription& acpi = GetParam().acpi;
    TempMemory memory(kMemory);
    const AcpiLayout layout = AcpiTables::build(acpi, kMemory - 0x100000, *memory);
    const Root root = scan(*memory);

    ASSERT_EQ(root.rsdp, PlatformDescription::kRsdpAddress);
    EXPECT_EQ(root.revision, acpi.xsdt ? 2 : 0);
    EXPECT_EQ(root.rsdt.size(), acpi.otherTables + (acpi.fadtInRsdt ? 1u : 0u));
    EXPECT_EQ(root.xsdt.size(), acpi.xsdt ? acpi.otherTables + (acpi.fadtInXsdt ? 1u : 0u) : 0u);
    EXPECT_EQ(root.xsdtAddress, layout.xsdt);
    if (acpi.fadtInRsdt) {
        EXPECT_EQ(root.rsdt.back(), layout.fadt);
    }
    if (acpi.fadtInXsdt) {
        EXPECT_EQ(root.xsdt.back(), layout.fadt);
    }
    for (size_t i = 0; i < acpi.otherTables; ++i) {
        EXPECT_TRUE(memory->view(root.rsdt[i], 4).hasSignature(0, "SSDT"));
    }

    ByteView fadt = memory->view(layout.fadt, acpi.fadtLength);
    EXPECT_TRUE(fadt.hasSignature(0, "FACP"));
    EXPECT_EQ(fadt.u32(4), acpi.fadtLength);
    EXPECT_EQ(portOf(*memory, layout.fadt), 0xB2);
    EXPECT_TRUE(memory->view(fadt.u32(40), 4).hasSignature(0, "DSDT"));

    // Every table's bytes sum to zero, and so do both parts of the RSDP.
    EXPECT_EQ(fadt.sum(), 0);
    EXPECT_EQ(memory->view(layout.rsdt, memory->view(layout.rsdt, 8).u32(4)).sum(), 0);
    if (layout.xsdt != 0) {
        EXPECT_EQ(memory->view(layout.xsdt, memory->view(layout.xsdt, 8).u32(4)).sum(), 0);
    }
    EXPECT_EQ(memory->view(root.rsdp, 20).sum(), 0);
    if (acpi.xsdt) {
        EXPECT_EQ(memory->view(root.rsdp, 36).sum(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Platforms, AcpiLayoutTest,
                         ::testing::Values(AcpiCase{"Fadt244Both", make(244, true, true, true, 0)},
                                           AcpiCase{"Fadt268", make(268, true, true, true, 2)},
                                           AcpiCase{"Fadt116RsdtOnly", make(116, false, true, false, 1)},
                                           AcpiCase{"FadtOnlyInXsdt", make(244, true, false, true, 3)},
                                           AcpiCase{"FadtOnlyInRsdt", make(244, true, true, false, 3)},
                                           AcpiCase{"MoreThanSixteenEntries", make(244, true, true, true, 20)}),
                         [](const ::testing::TestParamInfo<AcpiCase>& info) { return std::string(info.param.name); });

TEST(AcpiTables, StaleRsdpLiesLowerAndLeadsToAnotherPort)
{
    AcpiDescription acpi = make(244, true, true, true, 1);
    acpi.staleRsdpSmiCmd = 0xB4;
    TempMemory memory(kMemory);
    const AcpiLayout layout = AcpiTables::build(acpi, kMemory - 0x100000, *memory);
    const Root root = scan(*memory);

    ASSERT_EQ(root.rsdpHits.size(), 2u);
    EXPECT_EQ(root.rsdpHits.front(), layout.staleRsdp);
    EXPECT_LT(layout.staleRsdp, layout.rsdp);
    EXPECT_EQ(portOf(*memory, root.rsdt.back()), 0xB2); // the higher one, as used
    ByteView stale = memory->view(layout.staleRsdp, 36);
    const std::vector<uint32_t> staleEntries = entries(*memory, stale.u32(16), 4);
    EXPECT_EQ(portOf(*memory, staleEntries.back()), 0xB4);
}

TEST(AcpiTables, BadRsdpChecksumOnRequest)
{
    AcpiDescription acpi = make(244, true, true, true, 0);
    acpi.rsdpChecksumOk = false;
    TempMemory memory(kMemory);
    const AcpiLayout layout = AcpiTables::build(acpi, kMemory - 0x100000, *memory);
    EXPECT_NE(memory->view(layout.rsdp, 20).sum(), 0);
    EXPECT_EQ(scan(*memory).rsdp, layout.rsdp);
}

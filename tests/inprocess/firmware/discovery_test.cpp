// SMI port discovery on tables that the platform description cannot express:
// the firmware's memory is edited after layout, and the lookups run straight
// on the program's units in a child process.
#include <gtest/gtest.h>

#include <functional>

#include "EmuRun.h"
#include "firmware/UniversalPlatform.h"
#include "firmware/acpihelperlnx.h"
#include "firmware/biosinfo.h"
#include "firmware/oshook.h"
#include "support/InProcessFirmware.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace {

using fwemu::PlatformDescription;

// The ports found, as "acpi legacy system".
std::string Ports(const json& platform, const std::function<void(fwemu::PhysicalMemory&)>& edit)
{
    testsupport::TempDir dir("/tmp/discovery-");
    testsupport::ProcessResult r = testsupport::RunForked([&] {
        testsupport::InProcessFirmware firmware(platform, dir / "memory");
        edit(firmware.Memory());
        if (!InitMemMgr())
            _exit(3);
        unsigned short acpi = 0;
        unsigned short legacy = 0;
        QX3_GetAcpiSmiPort(&acpi);
        QX3_GetLegacySmiPort(&legacy);
        const unsigned short system = GetSystemSmiPort();
        printf("%X %X %X", acpi, legacy, system);
    });
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

uint32_t RootTable(fwemu::PhysicalMemory& m, unsigned offsetInRsdp)
{
    return m.view(PlatformDescription::kRsdpAddress, 36).u32(offsetInRsdp);
}

TEST(Discovery, HostileTables)
{
    static const unsigned RSDT = 16;
    static const unsigned XSDT = 24;
    // The root table moved to zero-filled memory at 1 MiB (so that the
    // entries past its own read as address 0) with Length 0xFFFFFFFF.
    auto hugeLength = [](unsigned root) {
        return [root](fwemu::PhysicalMemory& m) {
            const uint32_t moved = root == RSDT ? 0x100000 : 0x180000;
            const uint32_t size = root == RSDT ? 100 : 164;
            m.view(moved, size).setBytes(0, m.view(RootTable(m, root), size).data(), size);
            m.view(moved, 36).setU32(4, 0xFFFFFFFF);
            m.view(PlatformDescription::kRsdpAddress, 36).setU32(root, moved);
        };
    };
    auto asf = [](const char* port) {
        return [port](json& p) {
            p["acpi"] = nullptr;
            p["asf"] = {{{"offset", "0x0040"}, {"data_distance", 16}, {"port", port}}};
        };
    };
    struct Case {
        const char* name;
        std::function<void(json&)> change;
        std::function<void(fwemu::PhysicalMemory&)> edit;
        const char* ports;
    } cases[] = {
        // The walk ends after 4096 entries and goes on to the XSDT.
        {"RSDT with Length 0xFFFFFFFF, FADT in the XSDT",
         [](json& p) {
             p["acpi"]["fadt_smi_cmd"] = "0xB4";
             p["acpi"]["fadt_in_rsdt"] = false;
         },
         hugeLength(RSDT), "B4 B2 B4"},
        {"both root tables with Length 0xFFFFFFFF, FADT in the RSDT",
         [](json& p) { p["acpi"]["fadt_smi_cmd"] = "0xB4"; },
         [&](fwemu::PhysicalMemory& m) {
             hugeLength(RSDT)(m);
             hugeLength(XSDT)(m);
         },
         "B4 B2 B4"},
        {"XSDT with Length 0xFFFFFFFF, no FADT",
         [](json& p) {
             p["acpi"]["fadt_in_rsdt"] = false;
             p["acpi"]["fadt_in_xsdt"] = false;
         },
         hugeLength(XSDT), "0 B2 B2"},
        // "$ASF" naming port 0 names no port.
        {"\"$ASF\" naming port 0xB8", asf("0xB8"), [](fwemu::PhysicalMemory&) {}, "0 B8 B8"},
        {"\"$ASF\" naming port 0", asf("0x00"), [](fwemu::PhysicalMemory&) {}, "0 B2 B2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json platform = BasePlatform();
        c.change(platform);
        EXPECT_EQ(Ports(platform, c.edit), c.ports);
    }
}

} // namespace

// Which port the firmware's SMIs go to, and the registers at every port
// write: the memory-hole query on the port found before the memory manager
// is open, the flash-interface and mailbox SMIs on the port found by the
// BIOS information module.
#include <gtest/gtest.h>

#include <functional>

#include "EmuRun.h"

namespace {

const int SMI_HOLE = 0x7F;
const int FLASH_SMIS[] = {0x20, 0x25, 0x26, 0x24};

bool IsFlashSmi(int al)
{
    for (int code : FLASH_SMIS) {
        if (al == code)
            return true;
    }
    return false;
}

json Asf(const char* offset, const char* port)
{
    return {{"offset", offset}, {"data_distance", 16}, {"port", port}};
}

TEST(SmiPort, ChosenFromFadtThenAsfThenDefault)
{
    struct Case {
        const char* name;
        std::function<void(json&)> change;
        int holePort;  // memory-hole query
        int flashPort; // flash interface and mailbox
        int mailbox;   // index of the "$ASF" data area that receives the buffer address, -1: none
    } cases[] = {
        {"FADT names the port", [](json& p) { p["acpi"]["fadt_smi_cmd"] = "0xB4"; }, 0xB4, 0xB4, -1},
        {"FADT names the port, an \"$ASF\" is ignored",
         [](json& p) {
             p["acpi"]["fadt_smi_cmd"] = "0xB4";
             p["asf"] = {Asf("0x1230", "0xB0")};
         },
         0xB4, 0xB4, -1},
        {"FADT listed in the XSDT only",
         [](json& p) {
             p["acpi"]["fadt_smi_cmd"] = "0xB4";
             p["acpi"]["fadt_in_rsdt"] = false;
         },
         0xB4, 0xB4, -1},
        {"FADT after 21 other tables",
         [](json& p) {
             p["acpi"]["fadt_smi_cmd"] = "0xB4";
             p["acpi"]["other_tables"] = 21;
         },
         0xB4, 0xB4, -1},
        {"FADT after 21 other tables, XSDT only",
         [](json& p) {
             p["acpi"]["fadt_smi_cmd"] = "0xB4";
             p["acpi"]["other_tables"] = 21;
             p["acpi"]["fadt_in_rsdt"] = false;
         },
         0xB4, 0xB4, -1},
        {"two RSDPs: the one at the higher address",
         [](json& p) {
             p["acpi"]["fadt_smi_cmd"] = "0xB4";
             p["acpi"]["stale_rsdp_smi_cmd"] = "0xB6";
         },
         0xB4, 0xB4, -1},
        {"268-byte FADT with \"$ASF\"",
         [](json& p) {
             p["acpi"]["fadt_smi_cmd"] = "0xB4";
             p["acpi"]["fadt_length"] = 268;
             p["asf"] = {Asf("0x1230", "0xB0")};
         },
         0xB2, 0xB0, 0},
        {"268-byte FADT without \"$ASF\"",
         [](json& p) {
             p["acpi"]["fadt_smi_cmd"] = "0xB4";
             p["acpi"]["fadt_length"] = 268;
         },
         0xB2, 0xB2, -1},
        {"two \"$ASF\" structures: the first",
         [](json& p) {
             p["acpi"]["fadt_length"] = 268;
             p["asf"] = {Asf("0x1230", "0xB0"), Asf("0x2000", "0xB8")};
         },
         0xB2, 0xB0, 0},
        {"no ACPI tables, \"$ASF\"",
         [](json& p) {
             p["acpi"] = nullptr;
             p["asf"] = {Asf("0x0040", "0xB8")};
         },
         0xB2, 0xB8, 0},
        {"FADT names port 0", [](json& p) { p["acpi"]["fadt_smi_cmd"] = "0x00"; }, 0xB2, 0xB2, -1},
        {"no ACPI tables, \"$ASF\" naming port 0",
         [](json& p) {
             p["acpi"] = nullptr;
             p["asf"] = {Asf("0x0040", "0x00")};
         },
         0xB2, 0xB2, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json platform = BasePlatform();
        c.change(platform);
        EmuRun r = RunOnPlatform(platform, {"/GetMode"});
        ASSERT_EQ(r.out.find(BANNER), 0u) << r.out;

        std::vector<json> writes = r.PortWrites();
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes[0]["al"], SMI_HOLE);
        EXPECT_EQ(writes[0]["port"], c.holePort);
        int flashSmis = 0;
        for (const json& w : writes) {
            SCOPED_TRACE(w.dump());
            int al = w["al"];
            if (!IsFlashSmi(al))
                continue;
            flashSmis++;
            EXPECT_EQ(w["port"], c.flashPort);
            // The "$ASF" data area receives the buffer address before every
            // flash SMI but the opening one.
            if (c.mailbox >= 0) {
                const json& mailbox = w["asf_mailbox"];
                EXPECT_EQ(mailbox[c.mailbox], al == 0x20 ? 0u : HOLE);
                for (size_t i = 0; i < mailbox.size(); i++) {
                    if ((int)i != c.mailbox) {
                        EXPECT_EQ(mailbox[i], 0u);
                    }
                }
            }
        }
        EXPECT_EQ(flashSmis, 4);
    }
}

// The memory-hole query carries EBX 0 and reads the answer back from EBX;
// every other write carries the shared buffer's address in EBX, and ECX 0.
TEST(SmiPort, RegistersAtEveryPortWrite)
{
    json platform = BasePlatform();
    platform["secure_flash"]["delivered"] = true;
    EmuRun r = RunOnPlatform(platform, {"/GetMode"});
    std::vector<json> writes = r.PortWrites();
    ASSERT_GE(writes.size(), 5u);
    for (const json& w : writes) {
        SCOPED_TRACE(w.dump());
        EXPECT_EQ(w["ecx"], 0);
        EXPECT_EQ(w["ebx"], w["al"] == SMI_HOLE ? 0u : HOLE);
        EXPECT_TRUE(w["smi"].get<bool>());
    }
    EXPECT_EQ(writes[0]["ebx_after"], HOLE);
}

} // namespace

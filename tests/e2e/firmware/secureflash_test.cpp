// The secure-flash policy request: its bytes as the firmware receives them,
// the firmware's message line, and that no outcome of it fails the run.
#include <gtest/gtest.h>

#include <functional>

#include "EmuRun.h"

namespace {

// "DORE", version 0 (never queried), running offset 28, function 0x40,
// status 0, descriptor size 18, platform type 4; type 0x70, one record of 2
// bytes: sub-function 4; end marker.
const char REQUEST[] =
    "444F524500001C00400000000000120004007001020004"
    "00AA55FFFF";

TEST(SecureFlash, RequestBytes)
{
    json platform = BasePlatform();
    platform["dore"]["version"] = "0x20F";
    EmuRun r = RunOnPlatform(platform, {"/GetMode"});
    std::vector<json> dore = r.Writes("dore");
    ASSERT_EQ(dore.size(), 1u);
    const json& request = dore[0]["request"];
    EXPECT_EQ(request["bytes"], REQUEST);
    EXPECT_EQ(request["signature"], "DORE");
    EXPECT_EQ(request["answer_status_preset"], 1);
    EXPECT_EQ(request["stray_bytes"], 0); // the rest of the buffer is clear
    EXPECT_EQ(dore[0]["kind"], "secure_flash_policy");
    EXPECT_EQ(dore[0]["al"], 0x26);
}

TEST(SecureFlash, MessageLineAndOutcomes)
{
    struct Case {
        const char* name;
        std::function<void(json&)> change;
        const char* before; // printed ahead of the banner
    } cases[] = {
        {"policy delivered with a message",
         [](json& p) {
             p["secure_flash"]["delivered"] = true;
             p["secure_flash"]["message"] = "Secure flash is enabled";
         },
         " - Secure flash is enabled \n"},
        {"message without the policy", [](json& p) { p["secure_flash"]["message"] = "No policy"; }, " - No policy \n"},
        {"empty message", [](json& p) { p["secure_flash"]["message"] = ""; }, ""},
        {"policy without a message", [](json& p) { p["secure_flash"]["delivered"] = true; }, ""},
        {"firmware without DORE", [](json& p) { p["dore"]["present"] = false; }, ""},
        {"firmware reporting a DORE error", [](json& p) { p["dore"]["error"] = true; }, ""},
        // A text that fills the buffer to its last byte has no terminator.
        {"message at the buffer's end",
         [](json& p) {
             p["secure_flash"]["message"] = "END OF BUFFER";
             p["secure_flash"]["message_offset"] = 0x10000 - 13;
         },
         " - END OF BUFFER \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json platform = BasePlatform();
        c.change(platform);
        EmuRun r = RunOnPlatform(platform, {"/GetMode"});
        EXPECT_EQ(r.out.find(std::string(c.before) + BANNER), 0u) << r.out;
        EXPECT_EQ(r.Writes("dore").size(), 1u);
        EXPECT_EQ(r.Functions().back(), "close_flash");
    }
}

// The DORE version is only asked for by requests that need it; none of this
// program's requests does, so no version query is sent.
TEST(SecureFlash, NoVersionQuery)
{
    EmuRun r = RunOnPlatform(BasePlatform(), {"/GetMode"});
    for (const json& w : r.Writes("dore"))
        EXPECT_NE(w.value("kind", ""), "version");
}

} // namespace

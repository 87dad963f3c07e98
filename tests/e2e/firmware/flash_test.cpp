// Opening the flash interface and reading the flash information: the codes a
// refusal ends the run with, the flash information layouts, and the closing
// SMI at shutdown exactly when the interface was opened.
#include <gtest/gtest.h>

#include <functional>

#include "EmuRun.h"

namespace {

size_t Count(const std::vector<std::string>& names, const std::string& name)
{
    size_t n = 0;
    for (const std::string& s : names)
        n += s == name;
    return n;
}

// A refused or failed first module ends the run before the banner: its
// error line is all that is printed.
TEST(FlashInterface, RefusalsAndFailuresEndTheRunBeforeTheBanner)
{
    struct Case {
        const char* name;
        std::function<void(json&)> change;
        std::string line;
        int status;
        bool closed; // the interface was opened, so it is closed at shutdown
    } cases[] = {
        {"write-protected", [](json& p) { p["flash"]["open_status"] = 1; }, ErrorLine(0x40), 64, false},
        {"no power cord", [](json& p) { p["flash"]["open_status"] = 2; }, ErrorLine(0x48), 72, false},
        {"platform condition", [](json& p) { p["flash"]["open_status"] = 3; }, ErrorLine(0x49), 73, false},
        {"no flash information", [](json& p) { p["flash"]["info"] = nullptr; }, ErrorLine(0x46), 70, true},
        {"layout 5 with its status still set",
         [](json& p) {
             p["flash"]["info"]["version"] = 5;
             p["flash"]["info"]["status"] = 1;
         },
         ErrorLine(0x46), 70, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json platform = BasePlatform();
        c.change(platform);
        EmuRun r = RunOnPlatform(platform, {"/GetMode"});
        EXPECT_EQ(r.out, c.line);
        EXPECT_EQ(r.status, c.status);
        std::vector<std::string> f = r.Functions();
        EXPECT_EQ(Count(f, "open_flash"), 1u);
        EXPECT_EQ(Count(f, "close_flash"), c.closed ? 1u : 0u);
        EXPECT_EQ(Count(f, "dore"), 0u); // the secure-flash module does not run
        if (c.closed) {
            EXPECT_EQ(f.back(), "close_flash");
        }
    }
}

// Every layout that the firmware answers in lets the run go on; the
// interface stays open while the command runs and is closed last.
TEST(FlashInterface, AnsweredInformationAndClosingLast)
{
    struct Case {
        const char* name;
        int openStatus;
        int version;
        int status;
    } cases[] = {
        {"layout 5", 0, 5, 0},
        {"layout 12", 0, 12, 0},
        {"layout 12 whatever its status", 0, 12, 1},
        {"open status other than 1 to 3", 4, 12, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json platform = BasePlatform();
        platform["flash"]["open_status"] = c.openStatus;
        platform["flash"]["info"]["version"] = c.version;
        platform["flash"]["info"]["status"] = c.status;
        EmuRun r = RunOnPlatform(platform, {"/GetMode"});
        EXPECT_EQ(r.out.find(BANNER), 0u) << r.out;

        std::vector<std::string> f = r.Functions();
        ASSERT_GE(f.size(), 5u);
        EXPECT_EQ(f[0], "memory_hole");
        std::vector<std::string> firmware;
        for (const std::string& name : f) {
            if (name != "calling_interface")
                firmware.push_back(name);
        }
        EXPECT_EQ(firmware,
                  (std::vector<std::string>{"memory_hole", "open_flash", "flash_info", "dore", "close_flash"}));
        EXPECT_EQ(f.back(), "close_flash");

        // The request head of the flash information.
        json info = r.Writes("flash_info").at(0)["request"];
        EXPECT_EQ(info["size"], 0x10000);
        EXPECT_EQ(info["status"], 1);
        EXPECT_EQ(r.Writes("open_flash").at(0)["request"]["status"], 0);
    }
}

// A firmware that answers nothing but its memory hole: opening seems to
// succeed, the flash information does not come, and the interface that was
// taken as open is closed.
TEST(FlashInterface, FirmwareThatIgnoresEverything)
{
    json platform = BasePlatform();
    platform["flash"] = {{"open_status", nullptr}, {"info", nullptr}, {"fps", nullptr}, {"bpt", nullptr}};
    platform["dore"]["present"] = false;
    EmuRun r = RunOnPlatform(platform, {"/GetMode"});
    EXPECT_EQ(r.out, ErrorLine(0x46));
    EXPECT_EQ(r.status, 70);
    std::vector<std::string> firmware;
    for (const std::string& name : r.Functions()) {
        if (name != "calling_interface")
            firmware.push_back(name);
    }
    EXPECT_EQ(firmware, (std::vector<std::string>{"memory_hole", "open_flash", "flash_info", "close_flash"}));
}

} // namespace

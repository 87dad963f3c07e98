// Platform files: the shipped examples, defaults, number forms, round trips
// and the checks that reject a platform the model could not lay out.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "PlatformDescription.h"

using fwemu::KernelDescription;
using fwemu::PlatformDescription;
using fwemu::PlatformError;
using nlohmann::json;

namespace {

std::vector<std::string> examplePlatforms()
{
    std::vector<std::string> files;
    if (DIR* d = opendir(PLATFORMS_DIR)) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 5 && name.substr(name.size() - 5) == ".json")
                files.push_back(std::string(PLATFORMS_DIR) + "/" + name);
        }
        closedir(d);
    }
    return files;
}

} // namespace

TEST(PlatformDescription, ExamplesLoadAndSurviveARoundTrip)
{
    const std::vector<std::string> files = examplePlatforms();
    ASSERT_GE(files.size(), 4u);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const PlatformDescription p = PlatformDescription::load(file);
        // ZORVIK runs on every example without building its helper module.
        const bool smiModule = p.kernel && p.kernel->smiModule == KernelDescription::SmiModule::Loaded;
        EXPECT_TRUE(p.memoryHole.has_value() || smiModule) << "an example without a memory hole or the SMI module";
        const json once = p.toJson();
        EXPECT_EQ(PlatformDescription::fromJson(once).toJson(), once);
    }
}

TEST(PlatformDescription, DefaultPlatformIsLegacyDesktopWithPort0xB2)
{
    const PlatformDescription p = PlatformDescription::load(std::string(PLATFORMS_DIR) + "/legacy-desktop.json");
    ASSERT_TRUE(p.acpi.has_value());
    EXPECT_EQ(p.acpi->fadtSmiCmd, 0xB2);
    EXPECT_EQ(p.acpi->fadtLength, 244u);
}

TEST(PlatformDescription, EmptyObjectTakesTheDefaults)
{
    const PlatformDescription p = PlatformDescription::fromJson(json::object());
    EXPECT_EQ(p.memorySize, 0x10000000u);
    EXPECT_FALSE(p.memoryHole.has_value());
    ASSERT_TRUE(p.acpi.has_value());
    EXPECT_EQ(p.acpi->fadtLength, 244u);
    EXPECT_EQ(p.flash.openStatus, std::optional<uint8_t>(0));
    EXPECT_FALSE(p.flash.info.has_value());
    EXPECT_TRUE(p.dore.present);
    EXPECT_FALSE(p.secureFlash.delivered);
    EXPECT_TRUE(p.nmiWatchdog);
}

TEST(PlatformDescription, NumbersAreAcceptedAsJsonNumbersOrCNotation)
{
    const PlatformDescription a =
        PlatformDescription::fromJson(json::parse(R"({"memory_hole": "0x800000", "acpi": {"fadt_smi_cmd": "0xB0"}})"));
    const PlatformDescription b =
        PlatformDescription::fromJson(json::parse(R"({"memory_hole": 8388608, "acpi": {"fadt_smi_cmd": 176}})"));
    EXPECT_EQ(a.memoryHole, b.memoryHole);
    EXPECT_EQ(a.acpi->fadtSmiCmd, 0xB0);
    EXPECT_EQ(b.acpi->fadtSmiCmd, 0xB0);
}

TEST(PlatformDescription, NullsSwitchServicesOff)
{
    const PlatformDescription p = PlatformDescription::fromJson(json::parse(
        R"({"acpi": null, "memory_hole": null, "flash": {"open_status": null, "info": null, "fps": null, "bpt": null},
            "secure_flash": {"message": null}})"));
    EXPECT_FALSE(p.acpi.has_value());
    EXPECT_FALSE(p.memoryHole.has_value());
    EXPECT_FALSE(p.flash.openStatus.has_value());
    EXPECT_FALSE(p.secureFlash.message.has_value());
    EXPECT_EQ(p.effectiveSmiPorts(), std::vector<uint16_t>{0xB2});
}

TEST(PlatformDescription, SmiPortsDefaultToFadtAsfAndB2WithoutRepeats)
{
    const PlatformDescription derived = PlatformDescription::fromJson(json::parse(
        R"({"acpi": {"fadt_smi_cmd": "0xB2"}, "asf": [{"offset": "0x100", "port": "0xB0"},
                                                       {"offset": "0x200", "port": "0xB0"}]})"));
    EXPECT_EQ(derived.effectiveSmiPorts(), (std::vector<uint16_t>{0xB2, 0xB0}));
    const PlatformDescription given = PlatformDescription::fromJson(json::parse(R"({"smi_ports": ["0x2E"]})"));
    EXPECT_EQ(given.effectiveSmiPorts(), std::vector<uint16_t>{0x2E});
}

struct Rejected {
    const char* json;
    const char* message; // part of the error text
};

class PlatformRejection : public ::testing::TestWithParam<Rejected> {};

TEST_P(PlatformRejection, NamesTheField)
{
    try {
        PlatformDescription::fromJson(json::parse(GetParam().json));
        FAIL() << "accepted " << GetParam().json;
    } catch (const PlatformError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, PlatformRejection,
    ::testing::Values(
        Rejected{R"({"memory_sise": "0x1000000"})", "memory_sise: unknown field"},
        Rejected{R"({"acpi": {"fadt_lenght": 244}})", "acpi.fadt_lenght: unknown field"},
        Rejected{R"({"memory_size": "0x100000"})", "memory_size"},
        Rejected{R"({"memory_size": "0x1000001"})", "memory_size"},
        Rejected{R"({"memory_size": "0x200000000"})", "memory_size"},
        Rejected{R"({"memory_hole": "0xF0000"})", "memory_hole"},
        Rejected{R"({"memory_size": "0x1000000", "memory_hole": "0xFF0000"})", "memory_hole"},
        Rejected{R"({"acpi": {"fadt_length": 48}})", "acpi.fadt_length"},
        Rejected{R"({"acpi": {"xsdt": false, "fadt_in_xsdt": true}})", "acpi.fadt_in_xsdt"},
        Rejected{R"({"acpi": {"fadt_smi_cmd": "0x10000"}})", "acpi.fadt_smi_cmd: must be at most 0xFFFF"},
        Rejected{R"({"acpi": {"fadt_smi_cmd": -1}})", "must not be negative"},
        Rejected{R"({"acpi": {"fadt_smi_cmd": "port"}})", "is not a number"},
        Rejected{R"({"acpi": {"xsdt": "yes"}})", "acpi.xsdt: must be true or false"},
        Rejected{R"({"asf": [{"offset": "0x100", "data_distance": 8}]})", "asf[0].data_distance"},
        Rejected{R"({"asf": [{"offset": "0xFFF0", "data_distance": 16}]})", "asf[0].offset"},
        Rejected{R"({"asf": [{"offset": "0x6A30"}]})", "overlap"},
        Rejected{R"({"asf": [{"offset": "0x100"}, {"offset": "0x110"}]})", "overlap"},
        Rejected{R"({"asf": {"offset": "0x100"}})", "asf: must be a list"},
        Rejected{R"({"flash": {"info": {"version": 5, "blocks": [{}, {}]}, "fps": {"name": "X", "offset": "0x10"}}})",
                 "overlap"},
        Rejected{R"({"flash": {"fps": {"name": "ABCDEFGH", "offset": "0xFFF8"}}})", "flash.fps.name"},
        Rejected{R"({"secure_flash": {"message_offset": "0x100"}})", "secure_flash.message_offset"},
        Rejected{R"({"secure_flash": {"message": "long text", "message_offset": "0xFFFC"}})", "secure_flash.message"},
        Rejected{R"({"smi_ports": "0xB2"})", "smi_ports"}, Rejected{R"({"lockdown": "full"})", "lockdown: must be"},
        Rejected{R"({"run_lock": {"directory": false, "holder": {"pid": 7}}})", "run_lock.holder: needs"},
        Rejected{R"({"run_lock": {"holder": {"pid": 0}}})", "run_lock.holder.pid: must be from 1"},
        Rejected{R"({"run_lock": {"holder": {"pid": 7, "release_after": 5}}})",
                 "run_lock.holder.release_after: unknown"},
        Rejected{R"({"kernel": {"smi_module": "signed"}})", "kernel.smi_module: must be"},
        Rejected{R"([1, 2])", "must be an object"}));

TEST(PlatformDescription, SaveAndLoadKeepEveryField)
{
    PlatformDescription p = PlatformDescription::load(std::string(PLATFORMS_DIR) + "/uefi-laptop.json");
    p.secureFlash.message = "changed";
    p.asf.push_back({0x40, 20, 0x2E});
    p.lockdown = "integrity";
    p.runLock.holder = fwemu::RunLockHolder{4242, 300};
    p.kernel = KernelDescription{};
    p.kernel->smiModule = KernelDescription::SmiModule::Unsigned;
    char name[] = "/tmp/fwemu-platform-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    p.save(name);
    const PlatformDescription back = PlatformDescription::load(name);
    unlink(name);
    EXPECT_EQ(back.toJson(), p.toJson());
}

TEST(PlatformDescription, LoadReportsMissingFilesAndBadJson)
{
    EXPECT_THROW(PlatformDescription::load("/nonexistent/platform.json"), PlatformError);
    char name[] = "/tmp/fwemu-platform-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "{ not json", 10), 10);
    close(fd);
    try {
        PlatformDescription::load(name);
        ADD_FAILURE() << "bad JSON accepted";
    } catch (const PlatformError& e) {
        EXPECT_NE(std::string(e.what()).find("not valid JSON"), std::string::npos);
    }
    unlink(name);
}

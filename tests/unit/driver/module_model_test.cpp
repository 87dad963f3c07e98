// fwemu's model of the helper module where the end-to-end probe cannot reach
// it: loading rules, /proc/devices, running out of physical memory, keeping
// clear of the memory hole, and the platform's "kernel" object.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "HelperModule.h"
#include "KernelDescription.h"
#include "PlatformDescription.h"

using fwemu::HelperModule;
using fwemu::KernelDescription;
using fwemu::ModuleRecord;
using fwemu::PlatformDescription;
using nlohmann::json;

namespace {

class ModuleModel : public testing::Test {
protected:
    std::string path;
    std::unique_ptr<fwemu::PhysicalMemory> memory;
    PlatformDescription platform;
    KernelDescription kernel;

    void SetUp() override
    {
        char name[] = "/tmp/zorvik-module-XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path = name;
        platform.memorySize = 0x1000000; // 16 MiB: the ACPI tables take the top one
        memory = std::make_unique<fwemu::PhysicalMemory>(path, platform.memorySize);
    }
    void TearDown() override
    {
        memory.reset();
        unlink(path.c_str());
    }

    // CMD_ALLOC of `size` with a record in fwemu's own memory.
    int Alloc(HelperModule& m, int64_t size, ModuleRecord* reply = nullptr)
    {
        ModuleRecord r;
        r.size = size;
        json detail;
        return m.ioctl(
            HelperModule::kCmdAlloc, 1,
            [&](ModuleRecord& out) {
                out = r;
                return true;
            },
            [&](const ModuleRecord& in) {
                if (reply)
                    *reply = in;
                return true;
            },
            detail);
    }
};

TEST_F(ModuleModel, LoadingAndRemoval)
{
    kernel.insmodFailures = 1;
    HelperModule m(kernel, platform, *memory);
    EXPECT_EQ(m.load(kernel.moduleImage()), -ENOEXEC); // the failure asked for
    EXPECT_EQ(m.load("qorfldrv module for 2.6.32\n"), -ENOEXEC);
    EXPECT_EQ(m.open(kernel.major, false), -ENXIO);
    EXPECT_EQ(m.load(kernel.moduleImage()), 0);
    EXPECT_EQ(m.load(kernel.moduleImage()), -EEXIST);
    EXPECT_EQ(m.open(kernel.major + 1, false), -ENXIO);
    EXPECT_EQ(m.open(kernel.major, false), 0);
    EXPECT_EQ(m.open(kernel.major, true), -EBUSY);
    EXPECT_EQ(m.unload("qorfldrv_mod", true), -EAGAIN);
    EXPECT_EQ(m.unload("qorfldrv", false), -ENOENT);
    EXPECT_EQ(m.unload("qorfldrv_mod", false), 0);
    EXPECT_EQ(m.unload("qorfldrv_mod", false), -ENOENT);
}

TEST_F(ModuleModel, DevicesFileListsTheModuleByMajor)
{
    const std::string base = "Character devices:\n  1 mem\n226 drm\n\nBlock devices:\n  8 sd\n";
    struct Case {
        unsigned major;
        std::string expected;
    } cases[] = {
        {250, "Character devices:\n  1 mem\n226 drm\n250 qorfldrv\n\nBlock devices:\n  8 sd\n"},
        {100, "Character devices:\n  1 mem\n100 qorfldrv\n226 drm\n\nBlock devices:\n  8 sd\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.major);
        kernel.major = c.major;
        HelperModule m(kernel, platform, *memory);
        EXPECT_EQ(m.devicesFile(base), base);
        ASSERT_EQ(m.load(kernel.moduleImage()), 0);
        std::string listed = m.devicesFile(base);
        EXPECT_EQ(listed, c.expected);
        EXPECT_EQ(m.devicesFile(listed), c.expected); // listed once
        ASSERT_EQ(m.unload("qorfldrv_mod", false), 0);
        EXPECT_EQ(m.devicesFile(listed), base);
    }
}

TEST_F(ModuleModel, RunningOutOfMemoryRecordsNothing)
{
    kernel.loadedAtStart = true;
    HelperModule m(kernel, platform, *memory);
    // 2 MiB up to the ACPI tables at 15 MiB, 34 pages a block.
    const size_t fit = (0xF00000 - HelperModule::kPoolStart) / (HelperModule::kMaxBlock + 2 * HelperModule::kPage);
    for (size_t i = 0; i < fit; i++)
        ASSERT_EQ(Alloc(m, HelperModule::kMaxBlock), 0) << i;
    EXPECT_EQ(Alloc(m, HelperModule::kMaxBlock), -ENOMEM);
    EXPECT_EQ(m.table().size(), fit);
    EXPECT_FALSE(m.hasCurrentBlock());
    // A smaller block still fits in what is left.
    EXPECT_EQ(Alloc(m, 1), 0);
}

TEST_F(ModuleModel, BlocksKeepClearOfTheMemoryHole)
{
    platform.memoryHole = 0x200800;
    kernel.loadedAtStart = true;
    HelperModule m(kernel, platform, *memory);
    ModuleRecord first, second;
    ASSERT_EQ(Alloc(m, 1, &first), 0);
    ASSERT_EQ(Alloc(m, 1, &second), 0);
    // The hole's 64 KiB, in whole pages, are [0x200000, 0x211000).
    EXPECT_EQ(first.kphysadd, 0x211000u);
    EXPECT_EQ(second.kphysadd, 0x211000u + 3 * HelperModule::kPage);
}

TEST(KernelObject, RefusedFields)
{
    struct Case {
        json kernel;
        const char* field;
    } cases[] = {
        {{{"release", "5.10/x"}}, "kernel.release"},
        {{{"tree", "src"}}, "kernel.tree"},
        {{{"remap_page_range", 3}}, "kernel.remap_page_range"},
        {{{"make", "maybe"}}, "kernel.make"},
        {{{"major", 0}}, "kernel.major"},
        {{{"major", 512}}, "kernel.major"},
        {{{"mknod_error", "EWHATEVER"}}, "kernel.mknod_error"},
        {{{"files", {{"/work/../etc/x", ""}}}}, "kernel.files"},
        {{{"files", {{"/dev/mem", ""}}}}, "kernel.files"},
        {{{"files", {{"work/x", ""}}}}, "kernel.files"},
        {{{"gcc", "yes"}}, "kernel.gcc"},
        {{{"moduels", true}}, "kernel.moduels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kernel.dump());
        try {
            KernelDescription::fromJson(c.kernel);
            ADD_FAILURE() << "accepted";
        } catch (const fwemu::PlatformError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.field, 0), 0u) << e.what();
        }
    }
}

TEST(KernelObject, WrittenBackAsRead)
{
    json k = {{"release", "2.4.20-8"},
              {"tree", "build"},
              {"include_linux", true},
              {"remap_pfn_range", false},
              {"remap_page_range", 4},
              {"boot_config", false},
              {"gcc", true},
              {"make", "fails"},
              {"insmod_failures", 2},
              {"major", 254},
              {"loaded_at_start", true},
              {"mknod_error", "EPERM"},
              {"open_error", nullptr},
              {"files", {{"/work/qorfl", "x"}}},
              {"smi_module", "unsigned"},
              {"smi_abi_version", 2}};
    KernelDescription d = KernelDescription::fromJson(k);
    EXPECT_TRUE(d.kernel24());
    EXPECT_EQ(d.treePath(), "/lib/modules/2.4.20-8/build/");
    EXPECT_EQ(d.toJson(), k);
}

} // namespace

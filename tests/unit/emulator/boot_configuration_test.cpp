// The firmware model's boot configuration: the platform's "boot" object, the
// description strings laid out at power-on, and every boot-configuration
// request driven the way the program sends it (request block at the memory
// hole, payload behind it, SMI 0x0D on port 0xB2).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FirmwareModel.h"
#include "TempMemory.h"

using namespace fwemu;
using nlohmann::json;

namespace {

constexpr uint32_t kBuffer = 0x800000;
constexpr uint32_t kLabel = kBuffer + 36;
constexpr uint32_t kLoader = kBuffer + 292;
constexpr uint32_t kTable = kBuffer + 52;
constexpr int32_t kNotHandled = -2;

json Devices(std::vector<std::string> names)
{
    json list = json::array();
    for (const std::string& n : names)
        list.push_back({{"name", n}});
    return list;
}

class BootModel : public ::testing::Test {
protected:
    void boot(const json& bootState)
    {
        json j = {{"memory_size", "0x1000000"}, {"memory_hole", "0x800000"}};
        if (!bootState.is_null())
            j["boot"] = bootState;
        const PlatformDescription platform = PlatformDescription::fromJson(j);
        model_.reset();
        memory_ = std::make_unique<TempMemory>(platform.memorySize);
        model_ = std::make_unique<FirmwareModel>(platform, **memory_);
    }
    ByteView buffer() { return (*memory_)->view(kBuffer, 0x10000); }
    const BootConfigDescription& state() { return *model_->platform().boot; }

    // A request as the program sends it: status preset to -2, results 0.
    json call(uint16_t cls, uint16_t select, std::vector<uint32_t> in = {})
    {
        ByteView b = buffer();
        in.resize(4, 0);
        b.setU16(0, cls);
        b.setU16(2, select);
        for (size_t i = 0; i < 4; ++i)
            b.setU32(4 + 4 * i, in[i]);
        b.setU32(20, uint32_t(kNotHandled));
        for (size_t i = 1; i < 4; ++i)
            b.setU32(20 + 4 * i, 0);
        return model_->portWrite(PortWrite{0xB2, 0x0D, kBuffer, 0}).detail;
    }
    int32_t status() { return int32_t(buffer().u32(20)); }
    uint32_t result() { return buffer().u32(24); }

    void putString(uint32_t address, const std::u16string& s)
    {
        ByteView b = buffer();
        for (size_t i = 0; i <= s.size(); ++i)
            b.setU16(address - kBuffer + 2 * i, i < s.size() ? s[i] : 0);
    }
    std::u16string getString(uint32_t address)
    {
        std::u16string s;
        for (size_t off = address - kBuffer; buffer().u16(off) != 0; off += 2)
            s.push_back(char16_t(buffer().u16(off)));
        return s;
    }
    std::vector<std::string> labels()
    {
        std::vector<std::string> v;
        for (const UefiBootOption& o : state().bootOptions)
            v.push_back(utf16ToUtf8(o.label));
        return v;
    }

    std::unique_ptr<TempMemory> memory_;
    std::unique_ptr<FirmwareModel> model_;
};

TEST(BootConfigDescription, RefusesUnusableState)
{
    struct Case {
        json boot;
        const char* message;
    } cases[] = {
        {{{"bootmode", "uefi"}}, "boot.bootmode: unknown field"},
        {{{"bbs", {{"devices", Devices({"A"})}, {"extra", 1}}}}, "boot.bbs.extra: unknown field"},
        {{{"bbs", {{"devices", Devices({"A", "B"})}, {"priority", {0}}}}},
         "boot.bbs.priority: must hold one entry per device"},
        {{{"bbs", {{"devices", {{{"name", "A"}, {"offset", 0}}, {{"name", "B"}, {"offset", 1}}}}}}},
         "boot.bbs.devices: two description strings overlap"},
        {{{"bbs", {{"segment", "0xDFFF"}, {"devices", Devices({"a name longer than sixteen"})}}}},
         "boot.bbs.devices[0].name: the description string must end below 0xE0000"},
        {{{"bbs", {{"segment", "0x1000"}, {"devices", {{{"name", "A"}, {"offset", "0xFFFF"}}, {{"name", "B"}}}}}}},
         "boot.bbs.devices[1].offset: the string's offset must fit 16 bits; give an offset"},
        {{{"status", {{"3/4", -2}}}}, "boot.status.3/4: not a boot-configuration request"},
        {{{"status", {{"3/5/1", -2}}}}, "boot.status.3/5/1: a setting is named only for classes 0 and 1"},
        {{{"status", {{"zero", 1}}}}, "boot.status.zero: the key must be CLASS/SELECT or CLASS/SELECT/SETTING"},
        {{{"mode_encoding", -1}}, "boot.mode_encoding: must be from 0 to 4294967295"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.boot.dump());
        try {
            BootConfigDescription::fromJson(c.boot);
            ADD_FAILURE() << "accepted";
        } catch (const PlatformError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

// What --save writes reads back to the same state.
TEST(BootConfigDescription, SavedStateReadsBackUnchanged)
{
    const json boot = {
        {"mode_encoding", 1},
        {"boot_mode", 7},
        {"secure_boot", true},
        {"bbs",
         {{"segment", "0xC800"},
          {"devices", {{{"name", "SATA HDD"}, {"type", 2}}, {{"name", ""}, {"segment", "0xD000"}, {"offset", "0x10"}}}},
          {"priority", {1, 0}},
          {"skip", {0xA5, 0x5A, 1}}}},
        {"boot_options", {{{"label", "caf\u00e9"}, {"loader", "\\EFI\\x.efi"}}}},
        {"status", {{"0/0/32777", 5}, {"99/12", -2}}},
    };
    const json saved = BootConfigDescription::fromJson(boot).toJson();
    EXPECT_EQ(BootConfigDescription::fromJson(saved).toJson(), saved);
    EXPECT_EQ(saved["status"], json({{"0/0/0x8009", 5}, {"99/12", -2}}));
    EXPECT_EQ(saved["boot_mode"], 7);
    EXPECT_EQ(saved["boot_options"][0]["label"], "caf\u00e9");
}

TEST(BootConfigDescription, TextConversions)
{
    struct Case {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"abc", u"abc"},
        {"caf\xc3\xa9", u"caf\u00e9"},
        {"\xf0\x9f\x98\x80", u"\U0001F600"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf8ToUtf16(c.utf8), c.utf16);
        EXPECT_EQ(utf16ToUtf8(c.utf16), c.utf8);
    }
    EXPECT_EQ(utf8ToUtf16("a\xffz"), u"a\uFFFDz");
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xef\xbf\xbd");
}

TEST_F(BootModel, WithoutBootStateNothingIsHandled)
{
    boot(nullptr);
    for (auto [cls, select] : std::vector<std::pair<uint16_t, uint16_t>>{{99, 24}, {0, 0}, {3, 2}, {99, 11}}) {
        const json d = call(cls, select, {0x8007});
        EXPECT_EQ(d["handled"], false);
        EXPECT_EQ(status(), kNotHandled);
    }
}

TEST_F(BootModel, ModeEncodingAndSettings)
{
    struct Case {
        json boot;
        uint32_t encoding, bootMode, secureBoot;
    } cases[] = {
        {{{"boot_mode", "legacy"}}, 0, 0, 0},
        {{{"boot_mode", "uefi"}, {"secure_boot", true}}, 0, 1, 1},
        {{{"mode_encoding", 1}, {"boot_mode", "legacy"}}, 1, 1, 0},
        {{{"mode_encoding", 1}, {"boot_mode", "uefi"}}, 1, 2, 0},
        {{{"boot_mode", 5}, {"secure_boot", 2}}, 0, 5, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.boot.dump());
        boot(c.boot);
        call(99, 24);
        EXPECT_EQ(status(), int32_t(c.encoding));
        call(0, 0, {0x8007});
        EXPECT_EQ(status(), 0);
        EXPECT_EQ(result(), c.bootMode);
        call(0, 0, {0x8009});
        EXPECT_EQ(status(), 0);
        EXPECT_EQ(result(), c.secureBoot);
        // Settings the firmware does not know stay unhandled.
        EXPECT_EQ(call(0, 0, {0x8008})["handled"], false);
        EXPECT_EQ(call(1, 0, {0x8006})["handled"], false);
    }
}

TEST_F(BootModel, SettingWritesChangeTheState)
{
    boot({{"mode_encoding", 1}, {"boot_mode", "legacy"}});
    call(1, 0, {0x8008});
    EXPECT_EQ(status(), 0);
    call(0, 0, {0x8007});
    EXPECT_EQ(result(), 2u);
    call(1, 0, {0x8007});
    call(0, 0, {0x8007});
    EXPECT_EQ(result(), 1u);
    call(1, 0, {0x8009, 1});
    EXPECT_EQ(state().secureBoot, 1u);
    call(1, 0, {0x8009, 0});
    EXPECT_EQ(state().secureBoot, 0u);
    EXPECT_EQ(state().toJson()["boot_mode"], "legacy");
}

TEST_F(BootModel, DescriptionStringsAndIplData)
{
    boot({{"bbs",
           {{"devices",
             {{{"name", "SATA HDD"}, {"type", 2}},
              {{"name", ""}, {"type", 0x80}},
              {{"name", "USB"}, {"segment", "0xC000"}, {"offset", "0x0100"}},
              {{"name", "CD"}}}},
            {"priority", {3, 1, 0, 2}},
            {"skip", {0xA5, 0x5A}}}}});
    // Power-on: consecutive strings from offset 0 of segment 0xD000, unless
    // a device names its own place.
    EXPECT_EQ((*memory_)->view(0xD0000, 9).text(0), "SATA HDD");
    EXPECT_EQ((*memory_)->view(0xD0009, 1).u8(0), 0);
    EXPECT_EQ((*memory_)->view(0xC0100, 4).text(0), "USB");
    EXPECT_EQ((*memory_)->view(0xD0104, 3).text(0), "CD"); // offset right behind "USB" at 0x100

    call(3, 2);
    EXPECT_EQ(status(), 0);
    EXPECT_EQ(result(), 4u);
    const json d = call(3, 3, {kBuffer + 36, kTable, kTable + 64});
    EXPECT_EQ(status(), 0);
    EXPECT_EQ(buffer().hex(36, 4), "03010002");
    struct Entry {
        uint16_t type, offset, segment;
    } entries[] = {{2, 0x0000, 0xD000}, {0x80, 0x0009, 0xD000}, {2, 0x0100, 0xC000}, {2, 0x0104, 0xD000}};
    for (size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(buffer().u16(52 + 16 * k), entries[k].type);
        EXPECT_EQ(buffer().u16(52 + 16 * k + 8), entries[k].offset);
        EXPECT_EQ(buffer().u16(52 + 16 * k + 10), entries[k].segment);
    }
    EXPECT_EQ(buffer().hex(52 + 64, 2), "A55A");
    EXPECT_EQ(d["priority"], json({3, 1, 0, 2}));
}

TEST_F(BootModel, PriorityWriteAcceptsOnlyAPermutation)
{
    struct Case {
        std::vector<uint8_t> sent;
        int32_t status;
        std::vector<uint8_t> stored;
    } cases[] = {
        {{2, 0, 1}, 0, {2, 0, 1}},
        {{0, 1, 2}, 0, {0, 1, 2}},
        {{0, 0, 1}, 1, {1, 0, 2}},
        {{3, 0, 1}, 1, {1, 0, 2}},
    };
    for (const Case& c : cases) {
        boot({{"bbs", {{"devices", Devices({"A", "B", "C"})}, {"priority", {1, 0, 2}}, {"skip", {7, 8}}}}});
        buffer().setBytes(36, c.sent.data(), c.sent.size());
        buffer().setBytes(100, "\x07\x08", 2);
        const json d = call(3, 5, {kBuffer + 36, kBuffer + 100, 0});
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(state().priority, c.stored);
        EXPECT_EQ(d["skip"], json({7, 8}));
    }
}

TEST_F(BootModel, BootOptionStore)
{
    boot({{"boot_options", {{{"label", "Windows"}, {"loader", "\\EFI\\w.efi"}}}}});

    putString(kLabel, u"Recovery");
    putString(kLoader, u"\\EFI\\BOOT\\BOOTX64.EFI");
    json d = call(99, 12, {kLabel, kLoader});
    EXPECT_EQ(status(), 0);
    EXPECT_EQ(d["label_hex"], "5200650063006F0076006500720079000000");
    EXPECT_EQ(labels(), (std::vector<std::string>{"Windows", "Recovery"}));

    call(99, 12, {kLabel, kLoader}); // the same label again
    EXPECT_EQ(status(), 1);
    EXPECT_EQ(labels().size(), 2u);

    call(99, 14, {kLabel});
    EXPECT_EQ(status(), 0);
    EXPECT_EQ(labels(), (std::vector<std::string>{"Recovery", "Windows"}));

    call(99, 11, {kLabel});
    EXPECT_EQ(status(), 0);
    EXPECT_EQ(getString(kLabel), u"1. Recovery (\\EFI\\BOOT\\BOOTX64.EFI)\n2. Windows (\\EFI\\w.efi)");

    putString(kLabel, u"windows"); // labels match exactly
    call(99, 13, {kLabel});
    EXPECT_EQ(status(), 1);
    putString(kLabel, u"Windows");
    call(99, 13, {kLabel});
    EXPECT_EQ(status(), 0);
    call(99, 14, {kLabel});
    EXPECT_EQ(status(), 1);
    EXPECT_EQ(labels(), (std::vector<std::string>{"Recovery"}));
}

// A list text longer than the room left in the buffer is cut at the
// buffer's end and then has no terminator; a label without a terminator in
// the buffer is refused.
TEST_F(BootModel, TextsStayInsideTheBuffer)
{
    const std::string longLabel(40000, 'x');
    boot({{"boot_options", {{{"label", longLabel}, {"loader", "\\l"}}}}});
    const json d = call(99, 11, {kLabel});
    EXPECT_EQ(status(), 0);
    EXPECT_EQ(d["terminated"], false);
    EXPECT_EQ(buffer().u16(0xFFFE), 'x');

    buffer().fill(36, 0x10000 - 36, 'y');
    call(99, 13, {kLabel});
    EXPECT_EQ(status(), 1);
    call(99, 13, {kBuffer + 0x10000});
    EXPECT_EQ(status(), 1);
}

TEST_F(BootModel, StatusOverrides)
{
    struct Case {
        json status;
        std::vector<uint32_t> input;
        uint16_t cls, select;
        bool handled;
        int32_t answer;
    } cases[] = {
        {{{"99/24", -2}}, {}, 99, 24, false, kNotHandled},
        {{{"0/0", 7}}, {0x8007}, 0, 0, true, 7},
        {{{"0/0/0x8009", -2}}, {0x8007}, 0, 0, true, 0}, // another setting is not affected
        {{{"0/0/0x8009", -2}}, {0x8009}, 0, 0, false, kNotHandled},
        {{{"0/0", 3}, {"0/0/0x8007", 0}}, {0x8007}, 0, 0, true, 0}, // the setting's own entry wins
        {{{"1/0/0x8008", 9}}, {0x8008}, 1, 0, true, 9},
        {{{"3/5", -2}}, {kBuffer + 36, kBuffer + 100}, 3, 5, false, kNotHandled},
        {{{"99/12", "0xFFFFFFFF"}}, {kLabel, kLoader}, 99, 12, true, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status.dump());
        boot({{"boot_mode", "legacy"}, {"bbs", {{"devices", Devices({"A"})}}}, {"status", c.status}});
        putString(kLabel, u"L");
        putString(kLoader, u"\\l");
        const json d = call(c.cls, c.select, c.input);
        EXPECT_EQ(d["handled"], c.handled);
        EXPECT_EQ(status(), c.answer);
    }
    // A failed request changes nothing.
    boot({{"boot_mode", "legacy"}, {"status", {{"1/0", 1}, {"99/12", 1}}}});
    call(1, 0, {0x8008});
    putString(kLabel, u"L");
    putString(kLoader, u"\\l");
    call(99, 12, {kLabel, kLoader});
    EXPECT_EQ(state().bootMode, BootConfigDescription::Mode::Legacy);
    EXPECT_TRUE(state().bootOptions.empty());
}

} // namespace

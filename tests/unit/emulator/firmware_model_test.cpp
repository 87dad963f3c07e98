// The firmware model's SMI services, driven the way the program drives them:
// bytes laid into the shared buffer at the memory hole, then a port write.
#include <gtest/gtest.h>

#include <memory>

#include "FirmwareModel.h"
#include "TempMemory.h"

using namespace fwemu;
using nlohmann::json;

namespace {

constexpr uint32_t kBuffer = 0x800000;

class ModelTest : public ::testing::Test {
protected:
    void boot(const json& changes = json::object())
    {
        json j = {{"memory_size", "0x1000000"}, {"memory_hole", "0x800000"}};
        j.update(changes, true);
        const PlatformDescription platform = PlatformDescription::fromJson(j);
        model_.reset();
        memory_ = std::make_unique<TempMemory>(platform.memorySize);
        model_ = std::make_unique<FirmwareModel>(platform, **memory_);
    }
    ByteView buffer() { return (*memory_)->view(kBuffer, 0x10000); }
    PortWriteOutcome smi(uint8_t code, uint16_t port = 0xB2, uint32_t ebx = kBuffer, uint32_t ecx = 0)
    {
        return model_->portWrite(PortWrite{port, code, ebx, ecx});
    }

    std::unique_ptr<TempMemory> memory_;
    std::unique_ptr<FirmwareModel> model_;
};

// A mailbox request as the program builds it: cleared buffer, descriptor,
// one extension header with its records, end marker.
void doreRequest(ByteView b, const char* signature, uint32_t function, uint8_t type, uint16_t recordSize,
                 std::vector<uint8_t> record)
{
    b.fill(0, b.size(), 0);
    b.setBytes(0, signature, 4);
    b.setU32(8, function);
    b.setU16(14, 18);
    b.setU16(16, 4);
    b.setU8(18, type);
    b.setU8(19, 1);
    b.setU16(20, recordSize);
    b.setBytes(22, record.data(), record.size());
    b.setU32(22 + recordSize, 0xFFFF55AA);
    b.setU16(6, uint16_t(22 + recordSize + 4));
}

void versionQuery(ByteView b, const char* signature = "DORE")
{
    doreRequest(b, signature, 0, 0, 0, {});
}

void secureFlashRequest(ByteView b)
{
    doreRequest(b, "DORE", 0x40, 0x70, 2, {4, 0});
    b.setU8(28 + 258, 1);
}

void callRequest(ByteView b, uint16_t cls, uint16_t select, std::array<uint32_t, 4> in, bool preset = true)
{
    b.fill(0, 36, 0);
    b.setU16(0, cls);
    b.setU16(2, select);
    for (size_t i = 0; i < 4; ++i)
        b.setU32(4 + 4 * i, in[i]);
    if (preset)
        b.setU32(20, 0xFFFFFFFE);
}

} // namespace

TEST_F(ModelTest, MemoryHoleQueryAnswersInEbx)
{
    struct Case {
        json hole;
        uint32_t answer;
    };
    for (const Case& c : {Case{"0x800000", 0x800000}, Case{"0x123450", 0x123450}, Case{nullptr, 0}}) {
        boot({{"memory_hole", c.hole}});
        const PortWriteOutcome out = smi(0x7F, 0xB2, 0);
        EXPECT_TRUE(out.smi);
        ASSERT_TRUE(out.ebx.has_value());
        EXPECT_EQ(*out.ebx, c.answer);
        EXPECT_EQ(out.detail["function"], "memory_hole");
    }
}

TEST_F(ModelTest, OnlySmiPortsReachTheFirmware)
{
    boot({{"acpi", {{"fadt_smi_cmd", "0xB0"}}}, {"flash", {{"open_status", 2}}}});
    EXPECT_TRUE(model_->raisesSmi(0xB0));
    EXPECT_TRUE(model_->raisesSmi(0xB2));
    EXPECT_FALSE(model_->raisesSmi(0x80));
    buffer().setU8(16, 0xAA);
    const PortWriteOutcome out = smi(0x20, 0x80);
    EXPECT_FALSE(out.smi);
    EXPECT_FALSE(out.ebx.has_value());
    EXPECT_EQ(buffer().u8(16), 0xAA);
    EXPECT_TRUE(smi(0x20, 0xB0).smi);
    EXPECT_EQ(buffer().u8(16), 2);
}

TEST_F(ModelTest, AsfStructuresLieInTheBiosAreaAndTheirMailboxIsTraced)
{
    boot({{"asf", json::array({{{"offset", "0x1230"}, {"data_distance", 16}, {"port", "0xB0"}},
                               {{"offset", "0x2000"}, {"data_distance", 32}, {"port", "0xB4"}}})}});
    ByteView bios = (*memory_)->view(0xF0000, 0x10000);
    EXPECT_TRUE(bios.hasSignature(0x1230, "$ASF"));
    EXPECT_EQ(bios.u8(0x1234), 16);
    EXPECT_EQ(bios.u16(0x1230 + 12), 0xB0);
    EXPECT_EQ(bios.u16(0x2000 + 12), 0xB4);
    EXPECT_EQ(model_->asfMailboxes(), (std::vector<uint32_t>{0xF1240, 0xF2020}));

    bios.setU32(0x1240, kBuffer);
    const PortWriteOutcome out = smi(0x24, 0xB0);
    EXPECT_EQ(out.detail["asf_mailbox"], json::array({kBuffer, 0}));
}

TEST_F(ModelTest, OpenFlashAnswersItsStatusInByte16)
{
    struct Case {
        json status;
        uint8_t byte16;
        bool open;
        bool answered;
    };
    for (const Case& c : {Case{0, 0, true, true}, Case{1, 1, false, true}, Case{2, 2, false, true},
                          Case{3, 3, false, true}, Case{7, 7, true, true}, Case{nullptr, 0xEE, false, false}}) {
        SCOPED_TRACE(c.status.dump());
        boot({{"flash", {{"open_status", c.status}}}});
        buffer().setU8(16, 0xEE);
        const PortWriteOutcome out = smi(0x20);
        EXPECT_EQ(buffer().u8(16), c.byte16);
        EXPECT_EQ(model_->flashInterface().isOpen(), c.open);
        EXPECT_EQ(out.detail["answered"], c.answered);
        EXPECT_EQ(out.detail["request"]["status"], 0xEE);
    }
}

TEST_F(ModelTest, FlashInformationLayoutFollowsItsVersion)
{
    struct Case {
        int version;
        int status;
        size_t firstEntry;
    };
    for (const Case& c : {Case{5, 0, 8}, Case{10, 0, 8}, Case{11, 0, 16}, Case{12, 1, 16}}) {
        SCOPED_TRACE(c.version);
        boot({{"flash",
               {{"info",
                 {{"version", c.version},
                  {"status", c.status},
                  {"blocks", json::array({{{"start", "0xFFF00000"}, {"size", "0x80000"}, {"type", 1}},
                                          {{"start", "0xFFF80000"}, {"size", "0x40000"}, {"type", 2}}})}}}}}});
        ByteView b = buffer();
        b.fill(0, 64, 0xFF);
        b.setU32(0, 0x10000);
        b.setU8(4, 1);
        const PortWriteOutcome out = smi(0x25);
        EXPECT_EQ(out.detail["request"]["size"], 0x10000);
        EXPECT_EQ(out.detail["request"]["status"], 1);
        EXPECT_EQ(b.u32(0), 0x10000u);
        EXPECT_EQ(b.u8(4), c.status);
        EXPECT_EQ(b.u8(5), c.version);
        EXPECT_EQ(b.u16(6), 2);
        if (c.firstEntry == 16) {
            EXPECT_EQ(b.u64(8), 0u);
        }
        EXPECT_EQ(b.u32(c.firstEntry), 0xFFF00000u);
        EXPECT_EQ(b.u32(c.firstEntry + 4), 0x80000u);
        EXPECT_EQ(b.u8(c.firstEntry + 8), 1);
        EXPECT_EQ(b.u32(c.firstEntry + 9), 0xFFF80000u);
        EXPECT_EQ(b.u32(c.firstEntry + 13), 0x40000u);
        EXPECT_EQ(b.u8(c.firstEntry + 17), 2);
    }
}

TEST_F(ModelTest, FlashInformationCarriesPartNameAndProjectRecords)
{
    boot({{"flash",
           {{"info", {{"version", 12}, {"blocks", json::array()}}},
            {"fps", {{"name", "MX25L6406E"}, {"offset", "0x800"}}},
            {"bpt", {{"length", 8}, {"mark", true}, {"offset", "0x900"}}}}}});
    smi(0x25);
    ByteView b = buffer();
    EXPECT_TRUE(b.hasSignature(0x800, "$FPS"));
    EXPECT_EQ(b.text(0x808), "MX25L6406E");
    EXPECT_TRUE(b.hasSignature(0x900, "$BPT"));
    EXPECT_EQ(b.u8(0x904), 8);
    EXPECT_EQ(b.u8(0x905), 'V');

    boot({{"flash", {{"info", {{"version", 12}}}, {"bpt", {{"length", 6}, {"mark", false}}}}}});
    smi(0x25);
    EXPECT_EQ(buffer().u8(0x904), 6);
    EXPECT_EQ(buffer().u8(0x905), 0);
}

TEST_F(ModelTest, FlashInformationUnansweredLeavesTheRequest)
{
    boot({{"flash", {{"info", nullptr}, {"fps", {{"name", "X"}}}}}});
    buffer().setU32(0, 0x10000);
    buffer().setU8(4, 1);
    const PortWriteOutcome out = smi(0x25);
    EXPECT_EQ(out.detail["answered"], false);
    EXPECT_EQ(buffer().u8(4), 1);
    EXPECT_EQ(buffer().u8(5), 0);
    EXPECT_FALSE(buffer().hasSignature(0x800, "$FPS"));
}

TEST_F(ModelTest, CloseFlashReportsWhetherItWasOpen)
{
    boot();
    smi(0x20);
    EXPECT_EQ(smi(0x24).detail["was_open"], true);
    EXPECT_FALSE(model_->flashInterface().isOpen());
    EXPECT_EQ(smi(0x24).detail["was_open"], false);
}

TEST_F(ModelTest, DoreVersionQuery)
{
    struct Case {
        bool present;
        int version;
        bool error;
        uint16_t status;
        uint16_t versionAnswer;
    };
    for (const Case& c : {Case{false, 0x210, false, 0, 0}, Case{true, 0x210, false, 0x01, 0x210},
                          Case{true, 0x20F, false, 0x01, 0x20F}, Case{true, 0x210, true, 0x09, 0x210}}) {
        SCOPED_TRACE(c.present);
        boot({{"dore", {{"present", c.present}, {"version", c.version}, {"error", c.error}}}});
        versionQuery(buffer());
        const PortWriteOutcome out = smi(0x26);
        EXPECT_EQ(buffer().u16(12), c.status);
        EXPECT_EQ(buffer().u16(4), c.versionAnswer);
        EXPECT_EQ(out.detail["handled"], c.present);
        EXPECT_EQ(out.detail["request"]["bytes"],
                  "444F52450000"
                  "1A00"
                  "00000000"
                  "0000"
                  "1200"
                  "0400"
                  "00"
                  "01"
                  "0000"
                  "AA55FFFF");
        EXPECT_EQ(out.detail["request"]["end_marker"], 0xFFFF55AA);
        EXPECT_TRUE(out.detail["request"]["table_record_size"].is_null());
    }
}

TEST_F(ModelTest, DoreSignatureIsAcceptedInEitherSpellingOnly)
{
    for (const char* sig : {"DORE", "OFBD", "XXXX"}) {
        SCOPED_TRACE(sig);
        boot();
        versionQuery(buffer(), sig);
        const PortWriteOutcome out = smi(0x26);
        const bool known = std::string(sig) != "XXXX";
        EXPECT_EQ(out.detail["handled"], known);
        EXPECT_EQ(out.detail["request"]["signature"], sig);
        EXPECT_EQ(buffer().u16(12), known ? 1 : 0);
    }
}

TEST_F(ModelTest, SecureFlashPolicyAnswers)
{
    struct Case {
        const char* name;
        json secureFlash;
        json dore;
        uint16_t status;
        uint8_t completion; // byte 258 of the answer area
        uint16_t policy;
        uint16_t runningOffset;
        const char* text; // at the running offset when bit 0x10 is set
    };
    const Case cases[] = {
        {"delivered", {{"delivered", true}, {"policy", "0x0003"}}, json::object(), 0x01, 0, 3, 28, nullptr},
        {"not delivered", {{"delivered", false}}, json::object(), 0x01, 1, 0, 28, nullptr},
        {"message",
         {{"delivered", true}, {"policy", 1}, {"message", "Secure flash on"}},
         json::object(),
         0x11,
         0,
         1,
         0x200,
         "Secure flash on"},
        {"empty message", {{"delivered", false}, {"message", ""}}, json::object(), 0x11, 1, 0, 0x200, ""},
        {"error bit", {{"delivered", true}, {"policy", 2}}, {{"error", true}}, 0x09, 0, 2, 28, nullptr},
        {"no mailbox", {{"delivered", true}, {"message", "x"}}, {{"present", false}}, 0, 1, 0, 28, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boot({{"secure_flash", c.secureFlash}, {"dore", c.dore}});
        secureFlashRequest(buffer());
        const PortWriteOutcome out = smi(0x26);
        ByteView b = buffer();
        EXPECT_EQ(b.u16(12), c.status);
        EXPECT_EQ(b.u8(28 + 258), c.completion);
        EXPECT_EQ(b.u16(28), c.policy);
        EXPECT_EQ(b.u16(6), c.runningOffset);
        if (c.text != nullptr) {
            EXPECT_EQ(b.text(c.runningOffset), c.text);
        }
        EXPECT_EQ(out.detail["request"]["bytes"],
                  "444F52450000"
                  "1C00"
                  "40000000"
                  "0000"
                  "1200"
                  "0400"
                  "70"
                  "01"
                  "0200"
                  "0400"
                  "AA55FFFF");
    }
}

TEST_F(ModelTest, SecureFlashRequestTraceShowsPresetAndStrayBytes)
{
    boot({{"secure_flash", {{"delivered", true}}}});
    secureFlashRequest(buffer());
    buffer().setU8(0x3000, 9);
    const PortWriteOutcome out = smi(0x26);
    EXPECT_EQ(out.detail["request"]["answer_status_preset"], 1);
    EXPECT_EQ(out.detail["request"]["stray_bytes"], 1);
    EXPECT_EQ(out.detail["kind"], "secure_flash_policy");
    EXPECT_EQ(out.detail["request"]["table_record_size"], 2);
}

TEST_F(ModelTest, MessageAtTheBufferEndHasNoTerminator)
{
    boot({{"secure_flash", {{"message", "ABCDE"}, {"message_offset", "0xFFFB"}}}});
    (*memory_)->view(kBuffer + 0x10000, 1).setU8(0, 0x77);
    secureFlashRequest(buffer());
    smi(0x26);
    EXPECT_EQ(buffer().u16(6), 0xFFFB);
    EXPECT_EQ(buffer().text(0xFFFB), "ABCDE");
    EXPECT_EQ((*memory_)->view(kBuffer + 0x10000, 1).u8(0), 0x77);
}

TEST_F(ModelTest, CallingInterfaceLeavesUnhandledRequestsAlone)
{
    boot();
    callRequest(buffer(), 3, 2, {0, 0, 0, 0});
    PortWriteOutcome out = smi(0x0D);
    EXPECT_EQ(int32_t(buffer().u32(20)), -2);
    EXPECT_EQ(out.detail["function"], "calling_interface");
    EXPECT_EQ(out.detail["handled"], false);
    EXPECT_EQ(out.detail["status"], -2);
    EXPECT_EQ(out.detail["class"], 3);
    EXPECT_EQ(out.detail["select"], 2);

    // The manufacturing-mode query is sent without a preset status.
    callRequest(buffer(), 99, 17, {0, 0, 0, 0}, false);
    out = smi(0x0D);
    EXPECT_EQ(buffer().u32(20), 0u);
    EXPECT_EQ(out.detail["handled"], false);
    EXPECT_EQ(out.detail["status"], 0);
}

TEST_F(ModelTest, CallingInterfaceHandlersAnswerAndMayChangeThePlatform)
{
    boot();
    model_->callingInterface().registerHandler(0, 0, [](CallContext& ctx, CallAnswer& answer) {
        if (ctx.request.input[0] != 0x8007)
            return false; // declines: the block stays as sent
        answer.setStatus(0);
        answer.output[1] = ctx.request.input[0] + 1;
        ctx.platform.description = "changed by a request";
        ctx.detail["setting"] = ctx.request.input[0];
        return true;
    });
    EXPECT_TRUE(model_->callingInterface().handles(0, 0));
    EXPECT_FALSE(model_->callingInterface().handles(0, 1));

    callRequest(buffer(), 0, 0, {0x8007, 0, 0, 0});
    PortWriteOutcome out = smi(0x0D);
    EXPECT_EQ(buffer().u32(20), 0u);
    EXPECT_EQ(buffer().u32(24), 0x8008u);
    EXPECT_EQ(out.detail["handled"], true);
    EXPECT_EQ(out.detail["inputs"], json::array({0x8007, 0, 0, 0}));
    EXPECT_EQ(out.detail["outputs"], json::array({0x8008, 0, 0}));
    EXPECT_EQ(out.detail["setting"], 0x8007);
    EXPECT_EQ(model_->platform().description, "changed by a request");

    callRequest(buffer(), 0, 0, {0x8009, 0, 0, 0});
    out = smi(0x0D);
    EXPECT_EQ(int32_t(buffer().u32(20)), -2);
    EXPECT_EQ(out.detail["handled"], false);
}

TEST_F(ModelTest, RequestsWhoseBufferIsNotInMemoryAreRefused)
{
    boot({{"flash", {{"open_status", 3}}}});
    for (auto regs : {std::pair<uint32_t, uint32_t>{0x1000000 - 0x100, 0}, std::pair<uint32_t, uint32_t>{kBuffer, 1}}) {
        const PortWriteOutcome out = smi(0x20, 0xB2, regs.first, regs.second);
        EXPECT_TRUE(out.detail.contains("error"));
        EXPECT_FALSE(model_->flashInterface().isOpen());
    }
    EXPECT_EQ(buffer().u8(16), 0);
}

TEST_F(ModelTest, UnknownFunctionCodesAreTracedAndIgnored)
{
    boot();
    const PortWriteOutcome out = smi(0x42);
    EXPECT_TRUE(out.smi);
    EXPECT_EQ(out.detail["function"], "unknown");
    EXPECT_FALSE(out.ebx.has_value());
}

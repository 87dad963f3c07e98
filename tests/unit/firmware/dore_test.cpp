// DORE requests as laid out in memory: the header builder, the version query
// and the secure-flash request, and the firmware's message line. No port is
// written here (the test process has no I/O privilege), so every firmware
// answer is whatever the test leaves in the buffer.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "firmware/biosinfo.h"
#include "firmware/dore_cfg.h"
#include "firmware/oshook.h"
#include "firmware/secureflashlib.h"
#include "framework/GlobalVariable.h"
#include "../framework/ChildRun.h"

namespace {

uint16_t U16(const std::vector<unsigned char>& b, size_t off)
{
    return (uint16_t)(b[off] | b[off + 1] << 8);
}

uint32_t U32(const std::vector<unsigned char>& b, size_t off)
{
    return (uint32_t)U16(b, off) | (uint32_t)U16(b, off + 2) << 16;
}

// The shared buffer for one test: 64 KiB on the heap, so that any read past
// its end is caught under the address sanitizer.
struct SharedBuffer {
    std::vector<unsigned char> bytes;
    explicit SharedBuffer(unsigned char fill) : bytes(SMI_BUFFER_SIZE, fill)
    {
        gpIntrBuf = bytes.data();
        gIntrBufPhyAddr = 0x9A000;
    }
    ~SharedBuffer()
    {
        gpIntrBuf = nullptr;
        gIntrBufPhyAddr = 0;
    }
};

const unsigned char END_MARKER[] = {0xAA, 0x55, 0xFF, 0xFF};

TEST(DoreBuilder, LaysOutDescriptorExtensionAndEndMarker)
{
    struct Case {
        unsigned char type;
        unsigned char count;
        uint16_t doreVer;
        uint16_t recordSize;
        uint16_t endAt;
    } cases[] = {
        {0x70, 1, 0, 2, 24},      // the secure-flash request
        {0x00, 1, 0, 0, 22},      // the version query: no records, size left 0
        {0x50, 2, 0, 20, 62},     // two records of a sized type
        {0x55, 1, 0x20F, 18, 40}, // type 0x55 before it grew
        {0x55, 1, 0x210, 30, 52}, // and after
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << (int)c.type << " ver " << c.doreVer);
        std::vector<unsigned char> b(256, 0);
        b[12] = 0x5A; // the status word is the firmware's: left as it is
        g_DoreVer = c.doreVer;
        Dore_Desc_Header(b.data(), 0x40);
        Dore_Ext_Header(b.data(), c.type, c.count);
        Dore_TC_End_Header(b.data(), c.type, c.count);

        EXPECT_EQ(0, memcmp(b.data(), "DORE", 4));
        EXPECT_EQ(U16(b, 4), c.doreVer);
        EXPECT_EQ(U32(b, 8), 0x40u);
        EXPECT_EQ(U16(b, 12), 0x5Au);
        EXPECT_EQ(U16(b, 14), 18u);
        EXPECT_EQ(U16(b, 16), 4u);
        EXPECT_EQ(b[18], c.type);
        EXPECT_EQ(b[19], c.count);
        EXPECT_EQ(U16(b, 20), c.recordSize);
        EXPECT_EQ(0, memcmp(b.data() + c.endAt, END_MARKER, 4));
        EXPECT_EQ(U16(b, 6), c.endAt + 4);
    }
    g_DoreVer = 0;
}

TEST(DoreBuilder, TypeWithoutRecordsKeepsTheSizeFieldAsItWas)
{
    std::vector<unsigned char> b(64, 0);
    b[20] = 0x34;
    b[21] = 0x12;
    Dore_Desc_Header(b.data(), 0);
    Dore_Ext_Header(b.data(), 0x42, 3);
    Dore_TC_End_Header(b.data(), 0x42, 3);
    EXPECT_EQ(U16(b, 20), 0x1234u);
    EXPECT_EQ(0, memcmp(b.data() + 22, END_MARKER, 4));
}

// Without an answer the version stays 0 and the query is sent again later;
// the request occupies the first 1024 bytes of the buffer only.
TEST(DoreVersion, QueryRequestWithoutAnAnswer)
{
    SharedBuffer shared(0xCC);
    g_DoreVer = 0;
    EXPECT_EQ(Dore_VersionCheck(), 0);
    EXPECT_EQ(g_DoreVer, 0u);
    const std::vector<unsigned char>& b = shared.bytes;
    EXPECT_EQ(0, memcmp(b.data(), "DORE", 4));
    EXPECT_EQ(U16(b, 6), 26u);
    EXPECT_EQ(U32(b, 8), 0u);
    EXPECT_EQ(U16(b, 12), 0u);
    EXPECT_EQ(b[18], 0x00);
    EXPECT_EQ(b[19], 1);
    EXPECT_EQ(U16(b, 20), 0u);
    EXPECT_EQ(0, memcmp(b.data() + 22, END_MARKER, 4));
    for (size_t i = 26; i < 1024; i++)
        ASSERT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[1024], 0xCC);
}

TEST(SecureFlashRequest, BytesOfTheWholeBuffer)
{
    SharedBuffer shared(0xCC);
    g_DoreVer = 0x0203;
    ASSERT_EQ(DOREHeaderGen(DORE_SECURE_FLASH_GET_POLICY), shared.bytes.data());
    g_DoreVer = 0;
    std::vector<unsigned char> want(SMI_BUFFER_SIZE, 0);
    const unsigned char head[] = {'D', 'O', 'R', 'E', 0x03, 0x02, 28, 0, 0x40, 0, 0,    0,    0,    0,
                                  18,  0,   4,   0,   0x70, 1,    2,  0, 4,    0, 0xAA, 0x55, 0xFF, 0xFF};
    memcpy(want.data(), head, sizeof(head));
    EXPECT_EQ(shared.bytes, want);
}

TEST(SecureFlashRequest, NoBufferNoRequest)
{
    gpIntrBuf = nullptr;
    EXPECT_EQ(DOREHeaderGen(DORE_SECURE_FLASH_GET_POLICY), nullptr);
    FLASH_POLICY_INFO_BLOCK block;
    EXPECT_FALSE(DORE_GetSupportedPolicy(&block));
}

// The status byte of the answer area is preset; a firmware that leaves it
// set has not delivered the policy and the caller's block is untouched.
TEST(SecureFlashRequest, UnansweredPolicyIsNotTaken)
{
    SharedBuffer shared(0);
    FLASH_POLICY_INFO_BLOCK block;
    memset(&block, 0xEE, sizeof(block));
    EXPECT_FALSE(DORE_GetSupportedPolicy(&block));
    EXPECT_EQ(shared.bytes[286], 1);
    EXPECT_EQ(block.SupportedPolicy, 0xEEEEu);
}

TEST(DoreMessage, PrintsTheFirmwareTextWithinTheBuffer)
{
    WriteOut = QX3Printf;
    struct Case {
        const char* name;
        uint16_t status;
        uint16_t offset;
        std::string text; // placed at offset, with a terminator if it fits
        std::string printed;
    } cases[] = {
        {"message", 0x11, 28, "Policy ok", " - Policy ok \n"},
        {"empty text", 0x10, 28, "", ""},
        {"no message bit", 0x01, 28, "hidden", ""},
        {"unterminated at the end", 0x10, SMI_BUFFER_SIZE - 3, "xyz", " - xyz \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildResult r = RunInChild([&] {
            SharedBuffer shared(0);
            unsigned char* b = shared.bytes.data();
            memcpy(b + 6, &c.offset, 2);
            memcpy(b + 12, &c.status, 2);
            memcpy(b + c.offset, c.text.data(), c.text.size());
            DORE_Message();
        });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.printed);
    }
}

} // namespace

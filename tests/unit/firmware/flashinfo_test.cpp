// The flash information as the BIOS information module keeps it: the copy in
// the newer layout, the ROM size, the flash part name and the project
// identifier records, all read within the 64 KiB buffer; and the flash
// interface's own bytes around its SMIs.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "firmware/biosinfo.h"
#include "firmware/flashifc.h"
#include "firmware/oshook.h"
#include "firmware/shadowifc.h"
#include "framework/Main.h"

namespace {

void PutBlock(unsigned char* at, uint32_t start, uint32_t size, uint8_t type)
{
    memcpy(at, &start, 4);
    memcpy(at + 4, &size, 4);
    at[8] = type;
}

// A flash information answer at the start of a 64 KiB buffer.
std::vector<unsigned char> Answer(uint8_t version, uint16_t count, unsigned int blocksWritten)
{
    std::vector<unsigned char> b(SMI_BUFFER_SIZE, 0);
    uint32_t size = SMI_BUFFER_SIZE;
    memcpy(b.data(), &size, 4);
    b[5] = version;
    memcpy(b.data() + 6, &count, 2);
    if (version > 10)
        memset(b.data() + 8, 0x77, 8); // not interpreted, copied as it is
    unsigned int first = version > 10 ? 16 : 8;
    for (unsigned int i = 0; i < blocksWritten; i++)
        PutBlock(b.data() + first + 9 * i, 0xFFF00000u + 0x10000u * i, 0x1000u * (i + 1), (uint8_t)i);
    return b;
}

TEST(FlashInfoCopy, NewerLayoutWhateverTheAnswer)
{
    struct Case {
        const char* name;
        uint8_t version;
        uint16_t count;
        unsigned int blocksWritten;
        uint32_t romSize;
    } cases[] = {
        {"version 5, two blocks", 5, 2, 2, 0x1000 + 0x2000},
        {"version 12, two blocks", 12, 2, 2, 0x1000 + 0x2000},
        {"no blocks", 12, 0, 0, 0},
        {"version 10 is the older layout", 10, 3, 3, 0x1000 + 0x2000 + 0x3000},
        // Counts that reach past the buffer: only the entries within it are
        // read, the rest of the copy stays zero.
        {"version 5, count past the buffer", 5, 0xFFFF, 4, 0x1000 + 0x2000 + 0x3000 + 0x4000},
        {"version 12, count past the buffer", 12, 0xFFFF, 4, 0x1000 + 0x2000 + 0x3000 + 0x4000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> answer = Answer(c.version, c.count, c.blocksWritten);
        ASSERT_EQ(CopyBiosInfoToAnotherBuffer((sROMInfo*)answer.data()), 0);
        const unsigned char* copy = (const unsigned char*)gpFlashInfo;
        EXPECT_EQ(gpFlashInfo->Size, SMI_BUFFER_SIZE);
        EXPECT_EQ(gpFlashInfo->Version, c.version);
        EXPECT_EQ(gpFlashInfo->BlockCount, c.count);
        unsigned int first = c.version > 10 ? 16 : 8;
        EXPECT_EQ(0, memcmp(copy + 16, answer.data() + first, 9 * c.blocksWritten));
        // The copy has room for one entry more than announced.
        unsigned int copySize = 25 + 9 * (c.count < 20 ? c.count : 20);
        for (unsigned int i = 16 + 9 * c.blocksWritten; i < copySize; i++)
            ASSERT_EQ(copy[i], 0) << i;
        EXPECT_EQ(CalculateRomSize(), c.romSize);
    }
    FreeMem((unsigned char*)gpFlashInfo);
    gpFlashInfo = nullptr;
}

TEST(FirmwareRecords, FlashPartNameAndProjectIdentifier)
{
    struct Case {
        const char* name;
        unsigned int fpsAt; // 0: none
        unsigned int bptAt; // 0: none
        const char* bptBytes;
        const char* chipName;
        uint8_t idLength;
        bool veltoV;
    } cases[] = {
        {"both records", 0x200, 0x300, "\x08V", "W25Q128", 8, true},
        {"no mark", 0x200, 0x300, "\x0AX", "W25Q128", 10, false},
        {"no records", 0, 0, "", "", 0xFF, false},
        // Records at the very end of the buffer: the name is cut at the
        // buffer's end; the mark would lie past it and is not looked at.
        {"name at the end", SMI_BUFFER_SIZE - 12, 0x300, "\x07", "MX25", 7, false},
        {"length at the end", 0, SMI_BUFFER_SIZE - 5, "\x07", "", 7, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> b(SMI_BUFFER_SIZE, 0);
        if (c.fpsAt != 0) {
            memcpy(b.data() + c.fpsAt, "$FPS", 4);
            memcpy(b.data() + c.fpsAt + 8, c.chipName, strlen(c.chipName));
        }
        if (c.bptAt != 0) {
            memcpy(b.data() + c.bptAt, "$BPT", 4);
            memcpy(b.data() + c.bptAt + 4, c.bptBytes, strlen(c.bptBytes));
        }
        g_OnBoardRomIsVeltoV = !c.veltoV;
        memset(m_FlashChipName, 0xEE, sizeof(m_FlashChipName));
        GetSystemFlashChipID(b.data(), SMI_BUFFER_SIZE);
        GetSystemROMIDLength(b.data(), SMI_BUFFER_SIZE);
        EXPECT_STREQ((const char*)m_FlashChipName, c.chipName);
        EXPECT_EQ(m_FlashChipName[FLASH_CHIP_NAME_SIZE - 1], 0);
        EXPECT_EQ(g_OnBoardROMProjectIDLength, c.idLength);
        if (c.bptAt != 0) {
            EXPECT_EQ(g_OnBoardRomIsVeltoV, c.veltoV);
        }
    }
}

// Around the SMIs the interface writes its request bytes itself; without an
// answer (no I/O privilege in a test) they decide the result.
TEST(FlashInterface, RequestBytesDecideWithoutAnAnswer)
{
    std::vector<unsigned char> b(SMI_BUFFER_SIZE, 0);
    gpIntrBuf = b.data();

    b[FLASH_OPEN_STATUS_OFFSET] = FLASH_OPEN_PLATFORM_CONDITION; // a stale status is cleared first
    CleanFlashIfcHook = nullptr;
    EXPECT_EQ(EnableFlashIfc(), 0);
    EXPECT_EQ(b[FLASH_OPEN_STATUS_OFFSET], 0);
    EXPECT_TRUE(SmiFlashEnabled);
    EXPECT_EQ(CleanFlashIfcHook, CleanFlashIfc);
    CleanFlashIfc();
    EXPECT_FALSE(SmiFlashEnabled);

    struct Case {
        uint8_t version;
        int result;
    } cases[] = {{5, QX3_ERR_GET_FLASH_INFO}, {11, QX3_ERR_GET_FLASH_INFO}, {12, 0}};
    for (const Case& c : cases) {
        memset(b.data(), 0xCC, 8);
        b[5] = c.version;
        sROMInfo* info = nullptr;
        EXPECT_EQ(GetFlashInfo(&info), c.result) << (int)c.version;
        EXPECT_EQ(info, (sROMInfo*)b.data());
        EXPECT_EQ(info->Size, SMI_BUFFER_SIZE);
        EXPECT_EQ(info->Status, 1);
    }
    gpIntrBuf = nullptr;
}

TEST(FlashInterface, BufferAddressGoesToTheAsfDataArea)
{
    unsigned char area[8];
    memset(area, 0xEE, sizeof(area));
    gIntrBufPhyAddr = 0x12345678;
    g_ASFData = nullptr;
    ShadowFlash(); // nothing to write to
    g_ASFData = area + 2;
    ShadowFlash();
    const unsigned char want[8] = {0xEE, 0xEE, 0x78, 0x56, 0x34, 0x12, 0xEE, 0xEE};
    EXPECT_EQ(0, memcmp(area, want, sizeof(want)));
    g_ASFData = nullptr;
    gIntrBufPhyAddr = 0;
}

} // namespace

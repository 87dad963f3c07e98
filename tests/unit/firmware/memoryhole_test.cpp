// The runtime memory hole as the provider of the shared buffer, mapped
// through the memory manager's descriptor (a file standing in for physical
// memory here).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "firmware/RuntimeMemoryHole.h"
#include "firmware/biosinfo.h"
#include "firmware/oshook.h"

namespace {

class MemoryHole : public testing::Test {
protected:
    char path[32] = "/tmp/zorvik-hole-XXXXXX";
    static constexpr unsigned int HOLE = 0x3010; // not page-aligned

    void SetUp() override
    {
        FdMem = mkstemp(path);
        ASSERT_NE(FdMem, -1);
        std::vector<unsigned char> image(0x20000);
        for (size_t i = 0; i < image.size(); i++)
            image[i] = (unsigned char)(i * 7 + (i >> 8));
        ASSERT_EQ(write(FdMem, image.data(), image.size()), (ssize_t)image.size());
        RuntimeMemoryHoleAddress = HOLE;
    }
    void TearDown() override
    {
        close(FdMem);
        FdMem = -1;
        unlink(path);
        RuntimeMemoryHoleAddress = 0;
    }
};

TEST_F(MemoryHole, EveryAllocationIsTheSameBufferUntilReleased)
{
    unsigned int phys1 = 0, phys2 = 0;
    unsigned char* virt1 = nullptr;
    unsigned char* virt2 = nullptr;
    ASSERT_TRUE(_AllocRuntimeMemoryHole(SMI_BUFFER_SIZE, &phys1, &virt1));
    ASSERT_TRUE(_AllocRuntimeMemoryHole(SMI_BUFFER_SIZE, &phys2, &virt2));
    EXPECT_EQ(phys1, HOLE);
    EXPECT_EQ(phys2, HOLE);
    EXPECT_EQ(virt1, virt2);

    // The mapping shows the hole's own bytes and writes reach them.
    unsigned char expected[16];
    ASSERT_EQ(pread(FdMem, expected, sizeof(expected), HOLE), 16);
    EXPECT_EQ(0, memcmp(virt1, expected, sizeof(expected)));
    virt1[SMI_BUFFER_SIZE - 1] = 0xA5;
    unsigned char last = 0;
    ASSERT_EQ(pread(FdMem, &last, 1, HOLE + SMI_BUFFER_SIZE - 1), 1);
    EXPECT_EQ(last, 0xA5);

    EXPECT_TRUE(_DeallocRuntimeMemoryHole(phys1, SMI_BUFFER_SIZE));
    EXPECT_FALSE(_DeallocRuntimeMemoryHole(phys1, SMI_BUFFER_SIZE));

    // The hole stays known: a later allocation maps it again.
    ASSERT_TRUE(_AllocRuntimeMemoryHole(SMI_BUFFER_SIZE, &phys1, &virt1));
    EXPECT_EQ(0, memcmp(virt1, expected, sizeof(expected)));
    EXPECT_TRUE(_DeallocRuntimeMemoryHole(phys1, SMI_BUFFER_SIZE));
}

TEST_F(MemoryHole, NoMappingWithoutTheMemoryManager)
{
    int saved = FdMem;
    FdMem = -1;
    unsigned int phys = 0;
    unsigned char* virt = (unsigned char*)1;
    EXPECT_FALSE(_AllocRuntimeMemoryHole(SMI_BUFFER_SIZE, &phys, &virt));
    EXPECT_EQ(virt, nullptr);
    EXPECT_FALSE(_DeallocRuntimeMemoryHole(phys, SMI_BUFFER_SIZE));
    FdMem = saved;
}

// Without I/O privilege the query writes no port and reports no hole, so the
// loader declines and the back end is left as it was.
TEST(MemoryHoleLoader, NoPrivilegeNoHole)
{
    ASSERT_FALSE(gIoPrivilegeGranted);
    QX3_ARGV_LIST args;
    ALLOC_PHY_MEM_FUNC before = AllocPhyMemImpl;
    EXPECT_EQ(GetMemoryHoleLocation(0xB2, SMI_GET_MEMORY_HOLE), 0u);
    EXPECT_FALSE(QX3_RuntimeMemoryHoleLoader(args, 0));
    EXPECT_EQ(AllocPhyMemImpl, before);
}

} // namespace

// The helper-module back end of the memory manager, where no module answers:
// the record's layout and how a refused request is reported.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stddef.h>
#include <unistd.h>

#include "firmware/oshook.h"
#include "platform/driver.h"

namespace {

TEST(HelperBackEnd, RecordIsFiveMachineWordsInDeclarationOrder)
{
    EXPECT_EQ(offsetof(QORFLDRV_ALLOC, size), 0 * sizeof(long));
    EXPECT_EQ(offsetof(QORFLDRV_ALLOC, kvirtlen), 1 * sizeof(long));
    EXPECT_EQ(offsetof(QORFLDRV_ALLOC, kmallocptr), 2 * sizeof(long));
    EXPECT_EQ(offsetof(QORFLDRV_ALLOC, kvirtadd), 3 * sizeof(long));
    EXPECT_EQ(offsetof(QORFLDRV_ALLOC, kphysadd), 4 * sizeof(long));
}

TEST(HelperBackEnd, RefusedAllocationLeavesNothingToRelease)
{
    // A descriptor that is not the module's device refuses CMD_ALLOC.
    int saved = Fd;
    Fd = open("/dev/null", O_RDWR);
    ASSERT_GE(Fd, 0);
    unsigned int phys = 0x1234;
    unsigned char marker = 0;
    unsigned char* virt = &marker;
    EXPECT_FALSE(_AllocPhyMem(0x10000, &phys, &virt));
    EXPECT_EQ(phys, 0x1234u);
    EXPECT_EQ(virt, &marker);
    // Nothing is mapped, so the release has nothing to do.
    EXPECT_TRUE(_FreePhyMem(phys, 0x10000));
    close(Fd);
    Fd = saved;
}

} // namespace

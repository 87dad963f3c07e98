// The usage text assembled from the registered modules' help entries, byte
// for byte, and the way an unclaimed word ends the run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "framework/GlobalVariable.h"
#include "framework/Main.h"
#include "firmware/oshook.h"
#include "framework/usagehead.h"
#include "support/ExpectedTexts.h"

namespace {

using namespace testsupport;

// Lines that the help entries report to the page counter in both passes.
const int COUNTED_HELP_LINES = 15;

// Registration allocates the shared SMI buffer; here it comes from the heap.
bool HeapSmiBuffer(unsigned int size, unsigned int* phys, unsigned char** virt)
{
    *virt = (unsigned char*)calloc(1, size);
    *phys = 0x100000;
    return *virt != nullptr;
}

// Registers the modules as a run does and ends through the usage path.
ChildResult UsageRun(const char* word)
{
    return RunInChild([=] {
        InitializeLibs();
        InitializeGlobalVariables();
        AllocPhyMemImpl = HeapSmiBuffer;
        if (InitializeModules() != 0)
            _exit(99);
        TerminateWithoutExecution((char*)word);
    });
}

TEST(UsageText, ByteForByteWithoutWords)
{
    ChildResult r = UsageRun(nullptr);
    EXPECT_EQ(r.out, UsageText());
    EXPECT_EQ(r.status, 0);
}

TEST(UsageText, EveryLineIs77Characters)
{
    ChildResult r = UsageRun(nullptr);
    std::istringstream in(r.out);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        EXPECT_EQ(line.size(), 77u) << line;
        count++;
    }
    EXPECT_EQ((size_t)count, UsageLines().size());
}

TEST(UsageText, UnclaimedWordIsNamedAndEndsWithCodeOne)
{
    struct Case {
        const char* word;
    } cases[] = {{"/Foo"}, {"-GETBOOTORDERX"}, {"plain"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        ChildResult r = UsageRun(c.word);
        EXPECT_EQ(r.out, Refused(c.word));
        EXPECT_EQ(r.status, 1);
    }
}

TEST(UsageText, BannerOfAnExecutedRun)
{
    ChildResult r = RunInChild([] {
        InitializeGlobalVariables();
        WriteOutUsageHead();
    });
    EXPECT_EQ(r.out, BANNER);
}

TEST(UsageText, HelpEntriesFeedThePageCounterWithoutPrompting)
{
    ChildResult r = RunInChild([] {
        InitializeLibs();
        InitializeGlobalVariables();
        AllocPhyMemImpl = HeapSmiBuffer;
        if (InitializeModules() != 0)
            _exit(99);
        KVT_LineCount = 0;
        for (int pass = 1; pass >= 0; pass--) {
            for (unsigned int i = 0; i < QueueItemList.size(); i++) {
                if (QueueItemList[i]->Help != nullptr)
                    QueueItemList[i]->Help(pass == 1);
            }
        }
        fflush(stdout);
        _exit(KVT_LineCount);
    });
    EXPECT_EQ(r.out.find("<Press any key"), std::string::npos);
    EXPECT_EQ(r.status, COUNTED_HELP_LINES);
}

} // namespace

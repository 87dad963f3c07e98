// The output hook and the page counter with its key prompt.
#include <gtest/gtest.h>

#include "ChildRun.h"
#include "framework/GlobalVariable.h"

namespace {

const char PROMPT[] = "<Press any key to continue>\r";

TEST(QX3Printf, LeadingUpperCaseXIsSkipped)
{
    struct Case {
        const char* format;
        std::string out;
    } cases[] = {
        {"Xabc", "abc"}, {"xabc", "xabc"}, {"X", ""}, {"XX", "X"}, {"aXb", "aXb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        ChildResult r = RunInChild([&] { QX3Printf(c.format); });
        EXPECT_EQ(r.out, c.out);
    }
    ChildResult r = RunInChild([] { QX3Printf("X%d-%s", 7, "ok"); });
    EXPECT_EQ(r.out, "7-ok");
}

// Feeds the counter and reports what was printed, what is left of the key
// input afterwards and where the counter ended.
struct PageRun {
    unsigned int start;
    std::vector<unsigned int> calls;
    std::string out;
    unsigned int counter;
};

TEST(PageCounter, PromptsAtEighteenLinesAndWaitsForOneKey)
{
    PageRun cases[] = {
        {16, {1}, "", 17},    {16, {1, 1}, PROMPT, 0}, {17, {2}, PROMPT, 0}, // the surplus line is not carried over
        {0, {18}, PROMPT, 0}, {0, {17, 0}, "", 17},    {0, {9, 9, 9}, PROMPT, 9},
        {250, {10}, "", 4}, // the counter is 8 bits wide
    };
    for (const PageRun& c : cases) {
        SCOPED_TRACE(c.start);
        ChildResult r = RunInChild(
            [&] {
                WriteOutInit();
                KVT_LineCount = (uint8_t)c.start;
                for (unsigned int n : c.calls)
                    KVT_CheckGlobalLineCont(n);
                // What the prompt did not consume is still readable.
                int next = getchar();
                printf("|%u|%c", KVT_LineCount, next == EOF ? '$' : next);
            },
            "kz");
        std::string expected = c.out + "|" + std::to_string(c.counter) + "|";
        expected += c.out.empty() ? 'k' : 'z';
        EXPECT_EQ(r.out, expected);
    }
}

TEST(PageCounter, PromptReturnsAtEndOfInput)
{
    ChildResult r = RunInChild([] {
        WriteOutInit();
        KVT_LineCount = 17;
        KVT_CheckGlobalLineCont(1);
        printf("|%u", KVT_LineCount);
    });
    EXPECT_EQ(r.out, std::string(PROMPT) + "|0");
}

} // namespace

// Error lines: the code in lower-case hexadecimal, then its message; codes
// missing from the table print the unknown-error text.
#include <gtest/gtest.h>

#include <set>

#include "ChildRun.h"
#include "framework/ErrorCollect.h"
#include "framework/GlobalVariable.h"
#include "framework/internal.h"
#include "support/ExpectedTexts.h"

namespace {

std::string ErrorLine(ENUM_ERR_ID code, ENUM_ERR_ID* returned)
{
    ChildResult r = RunInChild([&] {
        WriteOutInit();
        ErrorOutInit();
        _exit((int)ErrorOut(code) & 0xff);
    });
    *returned = (ENUM_ERR_ID)r.status;
    return r.out;
}

TEST(ErrorTable, HoldsEachCodeOnceInAscendingOrder)
{
    ASSERT_EQ(CoreErrorListSize, 132u);
    std::set<uint32_t> seen;
    for (unsigned int i = 0; i < CoreErrorListSize; i++) {
        EXPECT_LE(CoreErrorList[i].Code, 0xffu);
        if (i > 0) {
            EXPECT_LT(CoreErrorList[i - 1].Code, CoreErrorList[i].Code);
        }
        seen.insert(CoreErrorList[i].Code);
    }
    EXPECT_EQ(seen.size(), 132u);
}

TEST(ErrorLine, FormatForKnownAndUnknownCodes)
{
    struct Case {
        ENUM_ERR_ID code;
        std::string line;
    } cases[] = {
        {0x01, testsupport::ErrorLine(0x01)}, {0xd6, testsupport::ErrorLine(0xd6)},
        {0x24, testsupport::ErrorLine(0x24)}, {0x10, testsupport::ErrorLine(0x10)},
        {0x30, testsupport::ErrorLine(0x30)}, {0x31, testsupport::ErrorLine(0x31)},
        {0x33, testsupport::ErrorLine(0x33)}, {0x34, testsupport::ErrorLine(0x34)},
        {0xea, testsupport::ErrorLine(0xea)}, {0xff, testsupport::ErrorLine(0xff)},
        {0x0f, "f - Unknown Error...\n"},     {0x2a, "2a - Unknown Error...\n"},
        {0x36, "36 - Unknown Error...\n"},    {0x3f, "3f - Unknown Error...\n"},
        {0xc3, "c3 - Unknown Error...\n"},    {0xc5, "c5 - Unknown Error...\n"},
        {0xeb, "eb - Unknown Error...\n"},    {0xfe, "fe - Unknown Error...\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ENUM_ERR_ID returned = 0;
        EXPECT_EQ(ErrorLine(c.code, &returned), c.line);
        EXPECT_EQ(returned, c.code); // the code itself becomes the exit status
    }
}

TEST(ErrorLine, EveryTableEntryPrintsItsOwnMessage)
{
    for (unsigned int i = 0; i < CoreErrorListSize; i++) {
        EXPECT_STREQ(GetCoreErrorString(CoreErrorList[i].Code), CoreErrorList[i].Message);
        EXPECT_EQ(TranslateErrorCode(CoreErrorList[i].Code), CoreErrorList[i].Code);
    }
    EXPECT_STREQ(GetCoreErrorString(0x100), "Unknown Error...");
}

} // namespace

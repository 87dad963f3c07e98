// Command-word matching and the shared text routines.
#include <gtest/gtest.h>

#include <string>

#include "framework/GlobalVariable.h"

namespace {

TEST(IdentifyArg, WholeWordMatching)
{
    const std::string w63(63, 'a');
    const std::string w64(64, 'a');
    struct Case {
        std::string word;
        std::string command;
        bool ignoreCase;
        bool match;
    } cases[] = {
        {"GetBootOrder", "getbootorder", true, true},
        {"GetBootOrder", "getbootorder", false, false},
        {"getbootorder", "getbootorder", false, true},
        {"GBO", "gbo", true, true},
        {"GetBootOrderX", "getbootorder", true, false}, // characters after the command
        {"GetBoot", "getbootorder", true, false},       // a proper prefix
        {"", "", true, true},
        {"", "gbo", true, false},
        {"/", "/", true, true},
        {"-", "/", true, false},
        {"/MAKEDRV", "/makedrv", true, true},
        {w63, w63, true, true},  // the longest word that fits the buffers
        {w64, w64, true, false}, // never matches, nothing written past the buffers
        {w64 + "tail", "a", true, false},
        {"\xc4", "\xe4", true, false}, // only A-Z change case
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word + " / " + c.command);
        EXPECT_EQ(IdentifyArg(c.word.c_str(), c.command.c_str(), c.ignoreCase), c.match);
    }
}

TEST(TextRoutines, CompareString)
{
    struct Case {
        const char* a;
        const char* b;
        int result;
    } cases[] = {
        {"a", "b", -1},     {"b", "a", 1},
        {"abc", "abc", 0},  {"ab", "abc", -'c'},                    // a proper prefix against the longer string
        {"abc", "ab", 'c'}, {"\x80", "a", (signed char)0x80 - 'a'}, // characters are signed 8-bit values
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(CompareString((char*)c.a, (char*)c.b), c.result);
    }
}

TEST(TextRoutines, StringCopyWritesNoTerminator)
{
    char buf[] = "xyz";
    StringCopy(buf, "ab");
    EXPECT_STREQ(buf, "abz");
    EXPECT_EQ(StringLength(""), 0u);
    EXPECT_EQ(StringLength("abc"), 3u);
}

TEST(TextRoutines, CaseConversion)
{
    char mixed[] = "GetBoot-Order1";
    StrToLow(mixed);
    EXPECT_STREQ(mixed, "getboot-order1");
    StrToUpper(mixed);
    EXPECT_STREQ(mixed, "GETBOOT-ORDER1");
    StrToLow(nullptr);
    StrToUpper(nullptr);
}

TEST(TextRoutines, MemoryRoutines)
{
    unsigned char a[8];
    unsigned char b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    MemSet(a, 0xAB, sizeof(a));
    for (unsigned char v : a)
        EXPECT_EQ(v, 0xAB);
    MemCpy(a, b, 5);
    EXPECT_TRUE(MemCmp(a, b, 5));
    EXPECT_FALSE(MemCmp(a, b, 6));
    EXPECT_TRUE(MemCmp(a, b, 0));
    EXPECT_EQ(a[5], 0xAB);
}

} // namespace

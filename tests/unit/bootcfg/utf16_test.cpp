// The UTF-16 helpers: measuring strings of 8-bit and 16-bit units, widening
// command-line text and narrowing the firmware's text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bootcfg/TarnMaTool.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes WidenedBytes(const char* text, STR_ENCODING encoding)
{
    unsigned short* units = castASCIItoUTF16(text, encoding);
    if (units == nullptr)
        return {};
    const unsigned char* p = (const unsigned char*)units;
    Bytes bytes(p, p + getStrSizeFromBinDataArray(p, 0, encoding));
    free(units);
    return bytes;
}

TEST(Utf16, MeasureLengthAndSize)
{
    struct Case {
        const char* name;
        Bytes data;
        uint64_t offset;
        STR_ENCODING encoding;
        int length;
        int size;
    } cases[] = {
        {"empty 16-bit", {0, 0}, 0, STR_ENCODING_UTF16LE, 0, 2},
        {"abc 16-bit", {'a', 0, 'b', 0, 'c', 0, 0, 0}, 0, STR_ENCODING_UTF16LE, 3, 8},
        {"big-endian units measure alike", {0, 'a', 0, 'b', 0, 0}, 0, STR_ENCODING_UTF16BE, 2, 6},
        {"a zero byte inside a unit does not end it", {'a', 0, 0, 1, 0, 0}, 0, STR_ENCODING_UTF16LE, 2, 6},
        {"odd offset, unaligned units", {9, 'x', 0, 'y', 0, 0, 0}, 1, STR_ENCODING_UTF16LE, 2, 6},
        {"8-bit text", {'a', 'b', 0, 'c'}, 0, STR_ENCODING_ASCII, 2, 3},
        {"8-bit text from an offset", {'a', 'b', 0, 'c', 0}, 3, STR_ENCODING_ASCII, 1, 2},
        {"only the low 32 bits of the offset count", {'a', 'b', 0}, 0x100000001ull, STR_ENCODING_ASCII, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(getStrLengthFromBinDataArray(c.data.data(), c.offset, c.encoding), c.length);
        EXPECT_EQ(getStrLengthFromSource(nullptr, c.data.data(), c.offset, c.encoding), c.length);
        EXPECT_EQ(getStrSizeFromBinDataArray(c.data.data(), c.offset, c.encoding), c.size);
    }
}

TEST(Utf16, MeasureFromAFile)
{
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    const unsigned char data[] = {'#', 'h', 0, 'i', 0, 0, 0, 'z', 0};
    fwrite(data, 1, sizeof(data), f);
    EXPECT_EQ(getStrLengthFromSource(f, nullptr, 1, STR_ENCODING_UTF16LE), 2);
    // A file that ends before a terminator ends the string there.
    EXPECT_EQ(getStrLengthFromSource(f, nullptr, 7, STR_ENCODING_UTF16LE), 1);
    EXPECT_EQ(getStrLengthFromSource(f, nullptr, 0, STR_ENCODING_ASCII), 2);
    fclose(f);
}

TEST(Utf16, Widen)
{
    struct Case {
        const char* name;
        const char* text;
        STR_ENCODING encoding;
        Bytes bytes;
    } cases[] = {
        {"little-endian", "abc", STR_ENCODING_UTF16LE, {0x61, 0, 0x62, 0, 0x63, 0, 0, 0}},
        {"big-endian", "abc", STR_ENCODING_UTF16BE, {0, 0x61, 0, 0x62, 0, 0x63, 0, 0}},
        {"empty text is one zero unit", "", STR_ENCODING_UTF16LE, {0, 0}},
        {"loader path", "\\EFI\\A.EFI", STR_ENCODING_UTF16LE, {'\\', 0,   'E', 0,   'F', 0,   'I', 0,   '\\', 0, 'A',
                                                               0,    '.', 0,   'E', 0,   'F', 0,   'I', 0,    0, 0}},
        // Bytes above 0x7F are widened as unsigned characters.
        {"high bytes little-endian", "\x80\xe9\xff", STR_ENCODING_UTF16LE, {0x80, 0, 0xe9, 0, 0xff, 0, 0, 0}},
        {"high bytes big-endian", "\x80\xff", STR_ENCODING_UTF16BE, {0, 0x80, 0, 0xff, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WidenedBytes(c.text, c.encoding), c.bytes);
    }
    EXPECT_EQ(castASCIItoUTF16(nullptr, STR_ENCODING_UTF16LE), nullptr);
}

TEST(Utf16, Narrow)
{
    struct Case {
        const char* name;
        std::vector<unsigned short> units;
        std::string text;
    } cases[] = {
        {"units above 0xFF become '?'", {0x0141, 0x0042, 0x4E00, 0x0100, 0x0043, 0}, "?B??C"},
        {"empty", {0}, ""},
        {"latin-1 unit", {0x00e9, 0x0078, 0}, "\xe9x"},
        {"stops at the first zero unit", {0x61, 0, 0x62, 0}, "a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char* text = castUTF16toASCII(c.units.data());
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text), c.text);
        free(text);
    }
}

// The bounded narrowing never reads past the units it is given.
TEST(Utf16, NarrowWithinALimit)
{
    struct Case {
        const char* name;
        std::vector<unsigned short> units;
        unsigned int maxUnits;
        std::string text;
    } cases[] = {
        {"terminated within the limit", {'a', 'b', 0}, 3, "ab"},
        {"cut at the limit", {'a', 'b', 'c'}, 3, "abc"},
        {"cut before the terminator", {'a', 'b', 'c', 0}, 2, "ab"},
        {"nothing to read", {'a'}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Exactly the given units on the heap, so an over-read is caught.
        unsigned short* units = (unsigned short*)malloc(c.units.size() * 2);
        std::copy(c.units.begin(), c.units.end(), units);
        char* text = castUTF16toASCIIWithin(units, c.maxUnits);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text), c.text);
        free(text);
        free(units);
    }
}

// Widening then narrowing gives back the 8-bit text, high bytes included.
TEST(Utf16, RoundTrip)
{
    const char* texts[] = {"", "Recovery", "\\EFI\\BOOT\\BOOTX64.EFI", "caf\xe9 \x80\xff"};
    for (const char* t : texts) {
        unsigned short* units = castASCIItoUTF16(t, STR_ENCODING_UTF16LE);
        char* back = castUTF16toASCII(units);
        EXPECT_STREQ(back, t);
        free(back);
        free(units);
    }
}

} // namespace

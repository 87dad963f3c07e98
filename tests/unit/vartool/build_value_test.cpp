// BuildValue: the bytes and size written for each type, the -k byte count,
// the strtoul edge cases and the messages of refused values.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <ostream>
#include <string>
#include <vector>

#include "efivar.h"

namespace {

struct ValueCase {
    const char* type;
    std::string text;
    bool keep_size;
    int rc;
    std::vector<uint8_t> bytes; // the block's first bytes, when rc is 0
    uint32_t size;
    std::string err;
};

std::string Fail(const std::string& text, const char* why)
{
    return "Failed to read integer argument " + text + ": " + why + "\n";
}

void PrintTo(const ValueCase& c, std::ostream* os)
{
    *os << c.type << " '" << c.text << "'" << (c.keep_size ? " -k" : "");
}

class BuildValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(BuildValueTest, Converts)
{
    const ValueCase& c = GetParam();
    unsigned char* value = reinterpret_cast<unsigned char*>(1);
    uint32_t size = 77;
    testing::internal::CaptureStderr();
    int rc = BuildValue(c.type, c.text.c_str(), c.keep_size, &value, &size);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, c.rc);
    EXPECT_EQ(err, c.err);
    if (rc == 0) {
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(std::vector<uint8_t>(value, value + c.bytes.size()), c.bytes);
    } else {
        EXPECT_EQ(value, nullptr);
        EXPECT_EQ(size, 0u);
    }
    free(value);
}

const char* kRange = "Numerical result out of range";
const char* kNoError = "Success";

INSTANTIATE_TEST_SUITE_P(
    Int, BuildValueTest,
    testing::Values(ValueCase{"int", "2", false, 0, {2, 0, 0, 0}, 4, ""},
                    ValueCase{"int", "0x12345678", false, 0, {0x78, 0x56, 0x34, 0x12}, 4, ""},
                    ValueCase{"int", "010", false, 0, {8, 0, 0, 0}, 4, ""},
                    ValueCase{"int", " 7", false, 0, {7, 0, 0, 0}, 4, ""},
                    ValueCase{"int", "4294967294", false, 0, {0xfe, 0xff, 0xff, 0xff}, 4, ""},
                    // A leading '-' negates modulo 2^32, as strtoul does on the 32-bit target.
                    ValueCase{"int", "-2", false, 0, {0xfe, 0xff, 0xff, 0xff}, 4, ""},
                    ValueCase{"int", "4294967295", false, -22, {}, 0, Fail("4294967295", kNoError)},
                    ValueCase{"int", "0xffffffff", false, -22, {}, 0, Fail("0xffffffff", kNoError)},
                    ValueCase{"int", "-1", false, -22, {}, 0, Fail("-1", kNoError)},
                    // Numbers beyond 32 bits are out of range, never truncated.
                    ValueCase{"int", "4294967296", false, -22, {}, 0, Fail("4294967296", kRange)},
                    ValueCase{"int", "0x100000002", false, -22, {}, 0, Fail("0x100000002", kRange)},
                    ValueCase{"int", "-4294967296", false, -22, {}, 0, Fail("-4294967296", kRange)},
                    ValueCase{"int", "-18446744073709551615", false, -22, {}, 0, Fail("-18446744073709551615", kRange)},
                    ValueCase{"int", "99999999999999999999", false, -22, {}, 0, Fail("99999999999999999999", kRange)},
                    ValueCase{"int", "", false, -22, {}, 0, Fail("", kNoError)},
                    ValueCase{"int", "12abc", false, -22, {}, 0, Fail("12abc", kNoError)},
                    ValueCase{"int", "abc", false, -22, {}, 0, Fail("abc", kNoError)},
                    ValueCase{"int", "7 ", false, -22, {}, 0, Fail("7 ", kNoError)},
                    ValueCase{"int", "0x", false, -22, {}, 0, Fail("0x", kNoError)},
                    ValueCase{"int", "08", false, -22, {}, 0, Fail("08", kNoError)}));

// With -k the size is the number of significant bytes of the number.
INSTANTIATE_TEST_SUITE_P(KeepSize, BuildValueTest,
                         testing::Values(ValueCase{"int", "0", true, 0, {0, 0, 0, 0}, 1, ""},
                                         ValueCase{"int", "0x2", true, 0, {2, 0, 0, 0}, 1, ""},
                                         ValueCase{"int", "0xff", true, 0, {0xff, 0, 0, 0}, 1, ""},
                                         ValueCase{"int", "0x100", true, 0, {0, 1, 0, 0}, 2, ""},
                                         ValueCase{"int", "0xffff", true, 0, {0xff, 0xff, 0, 0}, 2, ""},
                                         ValueCase{"int", "0x10000", true, 0, {0, 0, 1, 0}, 3, ""},
                                         ValueCase{"int", "0xffffff", true, 0, {0xff, 0xff, 0xff, 0}, 3, ""},
                                         ValueCase{"int", "0x1000000", true, 0, {0, 0, 0, 1}, 4, ""},
                                         ValueCase{"int16", "5", true, 0, {5, 0}, 1, ""},
                                         ValueCase{"int16", "0x1234", true, 0, {0x34, 0x12}, 2, ""},
                                         ValueCase{"string", "abc", true, 0, {'a', 'b', 'c', 0}, 4, ""}));

INSTANTIATE_TEST_SUITE_P(
    Int16, BuildValueTest,
    testing::Values(ValueCase{"int16", "0x1234", false, 0, {0x34, 0x12}, 2, ""},
                    ValueCase{"int16", "1", false, 0, {1, 0}, 2, ""},
                    ValueCase{"int16", "65535", false, 0, {0xff, 0xff}, 2, ""},
                    ValueCase{"int16", "65536", false, -22, {}, 0, "Specified value is too large for type \"int16\"\n"},
                    ValueCase{"int16", "70000", false, -22, {}, 0, "Specified value is too large for type \"int16\"\n"},
                    ValueCase{"int16", "x", false, -22, {}, 0, Fail("x", kNoError)}));

INSTANTIATE_TEST_SUITE_P(
    StringAndOthers, BuildValueTest,
    testing::Values(ValueCase{"string", "hello", false, 0, {'h', 'e', 'l', 'l', 'o', 0}, 6, ""},
                    ValueCase{"string", "", false, 0, {0}, 1, ""},
                    ValueCase{"string", "0x2", false, 0, {'0', 'x', '2', 0}, 4, ""},
                    ValueCase{
                        "float", "1", false, VARTOOL_UNSUPPORTED_TYPE, {}, 0, "value-type float is not supported\n"},
                    ValueCase{"Int", "1", false, VARTOOL_UNSUPPORTED_TYPE, {}, 0, "value-type Int is not supported\n"},
                    ValueCase{"", "1", false, VARTOOL_UNSUPPORTED_TYPE, {}, 0, "value-type  is not supported\n"}));

TEST(BuildValueLongString, SizeCountsTerminator)
{
    std::string text(5000, 'x');
    unsigned char* value = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(BuildValue("string", text.c_str(), false, &value, &size), 0);
    EXPECT_EQ(size, 5001u);
    EXPECT_EQ(value[5000], 0);
    free(value);
}

} // namespace

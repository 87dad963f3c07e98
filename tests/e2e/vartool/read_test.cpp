// Reading a variable: printed values, refused types and sizes, and records
// that are not the kernel's 2084 bytes. A read never writes anything.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>

#include <ostream>

#include "runner.h"

namespace tessvin_e2e {
namespace {

struct ReadCase {
    const char* label;
    std::vector<uint8_t> raw; // raw_var as served
    std::string type;
    int status;
    std::string out;
    std::string err;
};

void PrintTo(const ReadCase& c, std::ostream* os)
{
    *os << c.label;
}

std::vector<uint8_t> Var(uint64_t size, const std::vector<uint8_t>& data)
{
    return Record(kName, kGuidBytes, size, data);
}

std::vector<uint8_t> Bytes(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<uint8_t> Truncated(size_t n)
{
    std::vector<uint8_t> r = Var(4, {2, 0, 0, 0});
    r.resize(n);
    return r;
}

const std::string kDataArea1025 = "Variable size (1025 bytes) is larger than the data area (1024 bytes)\n";
const std::string kInconsistent = "EFI variable size is inconsistent with internal definition\n";

class ReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadTest, PrintsOrRefuses)
{
    const ReadCase& c = GetParam();
    VarsDir vars;
    vars.PutVariable(kName, kGuid, c.raw);
    RunResult r = vars.Run({"-g", kGuid, "-n", kName, "-t", c.type});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(vars.Read(kRawVar), c.raw);
    EXPECT_TRUE(vars.Read("new_var").empty());
}

// The same reads through efivarfs, for the records that a file can hold:
// the kernel's 2084 bytes, a DataSize of a few pages at most, and no data
// past DataSize (which a file does not have).
TEST_P(ReadTest, ReadsEfivarFile)
{
    const ReadCase& c = GetParam();
    uint64_t size = UINT64_MAX;
    if (c.raw.size() == 2084)
        memcpy(&size, &c.raw[1040], sizeof(size));
    std::vector<uint8_t> file = size <= 4096 ? EfivarFile(c.raw) : std::vector<uint8_t>{};
    if (file.empty() || Var(size, std::vector<uint8_t>(file.begin() + 4, file.end())) != c.raw)
        GTEST_SKIP() << "an efivarfs file cannot hold this record";
    VarsDir vars;
    WriteFile(vars.EfivarPath(kEfivar), file);
    RunOptions options;
    options.interfaces = Interfaces::kEfivarfs;
    RunResult r = vars.Run({"-g", kGuid, "-n", kName, "-t", c.type}, options);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(ReadFile(vars.EfivarPath(kEfivar)), file);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadTest,
    testing::Values(
        ReadCase{"int_4_bytes", Var(4, {2, 0, 0, 0}), "int", 0, "2\n", ""},
        ReadCase{"int_8_bytes_max", Var(8, std::vector<uint8_t>(8, 0xff)), "int", 0, "18446744073709551615\n", ""},
        ReadCase{"int_little_endian", Var(4, {0x78, 0x56, 0x34, 0x12}), "int", 0, "305419896\n", ""},
        ReadCase{"int_size_0", Var(0, {}), "int", 0, "0\n", ""},
        // Only the DataSize data bytes make the number; bytes left behind
        // them in the record are not part of it.
        ReadCase{"int_bytes_after_size", Var(2, {1, 2, 3}), "int", 0, "513\n", ""},
        ReadCase{"int_size_0_bytes_after", Var(0, {5}), "int", 0, "0\n", ""},
        ReadCase{"int_size_9", Var(9, {1}), "int", 234, "",
                 "Variable size (9 bytes) is larger than long long integer size (8 bytes)\n"},
        ReadCase{"string_terminated", Var(4, Bytes(std::string("abc\0", 4))), "string", 0, "abc\n", ""},
        // The last byte of the value is taken as the terminator.
        ReadCase{"string_unterminated", Var(4, Bytes("abcd")), "string", 0, "abc\n", ""},
        ReadCase{"string_inner_zero", Var(5, Bytes(std::string("ab\0cd", 5))), "string", 0, "ab\n", ""},
        ReadCase{"string_size_0", Var(0, Bytes("junk")), "string", 0, "\n", ""},
        ReadCase{"string_full_area", Var(1024, std::vector<uint8_t>(1024, 'x')), "string", 0,
                 std::string(1023, 'x') + "\n", ""},
        ReadCase{"int16_not_printable", Var(2, {1, 0}), "int16", 234, "", "Value type int16 is not supported.\n"},
        ReadCase{"float_not_printable", Var(4, {1, 0, 0, 0}), "float", 234, "",
                 "Value type float is not supported.\n"}));

INSTANTIATE_TEST_SUITE_P(
    BadRecords, ReadTest,
    testing::Values(ReadCase{"size_1025_int", Var(1025, {2}), "int", 234, "", kDataArea1025},
                    ReadCase{"size_1025_string", Var(1025, Bytes("abc")), "string", 234, "", kDataArea1025},
                    ReadCase{"size_1025_unknown_type", Var(1025, {2}), "float", 234, "", kDataArea1025},
                    ReadCase{"size_max_string", Var(UINT64_MAX, Bytes("abc")), "string", 234, "",
                             "Variable size (18446744073709551615 bytes) is larger than the data area (1024 "
                             "bytes)\n"},
                    // The layout with 32-bit size fields.
                    ReadCase{"record_2076_bytes", Truncated(2076), "int", 251, "", kInconsistent},
                    ReadCase{"record_2083_bytes", Truncated(2083), "int", 251, "", kInconsistent},
                    ReadCase{"record_2085_bytes", Truncated(2085), "int", 251, "", kInconsistent},
                    ReadCase{"record_8192_bytes", Truncated(8192), "int", 251, "", kInconsistent},
                    ReadCase{"empty_raw_var", {}, "int", 251, "", kInconsistent}));

TEST(ReadFailures, MissingVariableCreatesNothing)
{
    VarsDir vars;
    RunResult r = vars.Run({"-g", kGuid, "-n", kName, "-t", "int"});
    EXPECT_EQ(r.status, 242);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Failed to stat file: No such file or directory\n");
    EXPECT_EQ(vars.List(), std::vector<std::string>{"new_var"});
    EXPECT_TRUE(vars.Read("new_var").empty());
}

TEST(ReadFailures, UpperCaseGuidNamesNoVariable)
{
    VarsDir vars;
    vars.PutVariable(kName, kGuid, Var(4, {2, 0, 0, 0}));
    RunResult r = vars.Run({"-g", "8BE4DF61-93CA-11D2-AA0D-00E098032B8C", "-n", kName, "-t", "int"});
    EXPECT_EQ(r.status, 242);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Failed to stat file: No such file or directory\n");
}

TEST(ReadFailures, RawVarThatCannotBeOpened)
{
    VarsDir vars;
    ASSERT_EQ(mkdir((vars.path() + "/" + kName + "-" + kGuid).c_str(), 0755), 0);
    ASSERT_EQ(mkdir((vars.path() + "/" + kRawVar).c_str(), 0755), 0);
    RunResult r = vars.Run({"-g", kGuid, "-n", kName, "-t", "int"});
    EXPECT_EQ(r.status, 251);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Failed to open file: Is a directory\n");
}

} // namespace
} // namespace tessvin_e2e

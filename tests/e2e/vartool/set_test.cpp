// Setting a variable: the exact record written to raw_var of an existing
// variable or to new_var for a missing one, and the refused values, which
// leave every file as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ostream>

#include "runner.h"

namespace tessvin_e2e {
namespace {

// An existing variable's Status and Attributes, which a write keeps.
const uint64_t kStatus = 0x0807060504030201ull;
const uint32_t kAttributes = 0x27;

std::vector<uint8_t> Existing(uint64_t size, const std::vector<uint8_t>& data)
{
    return Record(kName, kGuidBytes, size, data, kStatus, kAttributes);
}

std::vector<uint8_t> Bytes(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::string KeepSizeFails(uint32_t size, uint64_t kept)
{
    return "New value is larger than original size (" + std::to_string(size) + " > " + std::to_string(kept) +
           ") and keep_size=1\nFailed to set value\n";
}

std::string IntegerFails(const std::string& text, const char* why)
{
    return "Failed to read integer argument " + text + ": " + why + "\n";
}

struct SetCase {
    const char* label;
    std::vector<uint8_t> before;   // raw_var before the run
    std::vector<std::string> args; // after -g and -n
    int status;
    std::string err;
    std::vector<uint8_t> after; // raw_var after the run; empty: unchanged
};

void PrintTo(const SetCase& c, std::ostream* os)
{
    *os << c.label;
}

class SetTest : public testing::TestWithParam<SetCase> {};

TEST_P(SetTest, WritesRawVar)
{
    const SetCase& c = GetParam();
    VarsDir vars;
    vars.PutVariable(kName, kGuid, c.before);
    std::vector<std::string> args = {"-g", kGuid, "-n", kName};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = vars.Run(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(vars.Read(kRawVar), c.after.empty() ? c.before : c.after);
    EXPECT_TRUE(vars.Read("new_var").empty());
}

// The same command lines through efivarfs: the same messages and status, and
// one write of the attributes read and the data at the file's start. The
// file starts immutable where the file system keeps the flag, and must be
// so again afterwards.
TEST_P(SetTest, WritesEfivarFile)
{
    const SetCase& c = GetParam();
    VarsDir vars;
    std::string path = vars.EfivarPath(kEfivar);
    std::vector<uint8_t> before = EfivarFile(c.before);
    WriteFile(path, before);
    bool immutable = SetImmutable(path, true);
    std::vector<std::string> args = {"-g", kGuid, "-n", kName};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunOptions options;
    options.interfaces = Interfaces::kEfivarfs;
    RunResult r = vars.Run(args, options);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(IsImmutable(path), immutable);
    EXPECT_EQ(ReadFile(path), c.after.empty() ? before : Overwritten(before, EfivarFile(c.after)));
    EXPECT_EQ(vars.ListEfivars(), std::vector<std::string>{kEfivar});
}

const std::vector<uint8_t> kFour = Existing(4, {5, 6, 7, 8});

INSTANTIATE_TEST_SUITE_P(
    Int, SetTest,
    testing::Values(
        SetCase{"keep_size_one_byte", kFour, {"-t", "int", "-s", "0x2", "-k"}, 0, "", Existing(4, {2, 0, 0, 0})},
        SetCase{"resize_to_4",
                Existing(8, std::vector<uint8_t>(1024, 0xff)),
                {"-t", "int", "-s", "0x2"},
                0,
                "",
                Existing(4, {2, 0, 0, 0})},
        SetCase{"keep_size_zero",
                Existing(4, {0xff, 0xff, 0xff, 0xff}),
                {"-t", "int", "-s", "0", "-k"},
                0,
                "",
                Existing(4, {})},
        SetCase{"keep_size_three_bytes",
                kFour,
                {"--value-type", "int", "--set", "0x10000", "--keep-size"},
                0,
                "",
                Existing(4, {0, 0, 1, 0})},
        SetCase{
            "keep_size_too_small", Existing(1, {9}), {"-t", "int", "-s", "0x100", "-k"}, 234, KeepSizeFails(2, 1), {}},
        SetCase{"decimal", kFour, {"-t", "int", "-s", "4294967294"}, 0, "", Existing(4, {0xfe, 0xff, 0xff, 0xff})},
        SetCase{"hex", kFour, {"-t", "int", "-s", "0x1F"}, 0, "", Existing(4, {0x1f, 0, 0, 0})},
        SetCase{"octal", kFour, {"-t", "int", "-s", "017"}, 0, "", Existing(4, {15, 0, 0, 0})},
        SetCase{
            "negative_wraps_32_bits", kFour, {"-t", "int", "-s", "-2"}, 0, "", Existing(4, {0xfe, 0xff, 0xff, 0xff})},
        SetCase{"trailing_characters", kFour, {"-t", "int", "-s", "12abc"}, 234, IntegerFails("12abc", "Success"), {}},
        SetCase{"empty", kFour, {"-t", "int", "-s", ""}, 234, IntegerFails("", "Success"), {}},
        SetCase{"all_ones", kFour, {"-t", "int", "-s", "4294967295"}, 234, IntegerFails("4294967295", "Success"), {}},
        SetCase{"above_32_bits",
                kFour,
                {"-t", "int", "-s", "4294967296"},
                234,
                IntegerFails("4294967296", "Numerical result out of range"),
                {}}));

INSTANTIATE_TEST_SUITE_P(
    Int16, SetTest,
    testing::Values(SetCase{"two_bytes", kFour, {"-t", "int16", "-s", "0x1234"}, 0, "", Existing(2, {0x34, 0x12})},
                    SetCase{"largest", kFour, {"-t", "int16", "-s", "65535"}, 0, "", Existing(2, {0xff, 0xff})},
                    SetCase{"keep_size", kFour, {"-t", "int16", "-s", "7", "-k"}, 0, "", Existing(4, {7})},
                    SetCase{"too_large",
                            kFour,
                            {"-t", "int16", "-s", "70000"},
                            234,
                            "Specified value is too large for type \"int16\"\n",
                            {}}));

INSTANTIATE_TEST_SUITE_P(String, SetTest,
                         testing::Values(SetCase{"with_terminator",
                                                 kFour,
                                                 {"-t", "string", "-s", "hello"},
                                                 0,
                                                 "",
                                                 Existing(6, Bytes(std::string("hello\0", 6)))},
                                         SetCase{"empty", kFour, {"-t", "string", "-s", ""}, 0, "", Existing(1, {0})},
                                         SetCase{"keep_size",
                                                 Existing(4, Bytes("abcd")),
                                                 {"-t", "string", "-s", "hi", "-k"},
                                                 0,
                                                 "",
                                                 Existing(4, Bytes("hi"))},
                                         SetCase{"keep_size_too_small",
                                                 Existing(4, Bytes("abcd")),
                                                 {"-t", "string", "-s", "abcdef", "-k"},
                                                 234,
                                                 KeepSizeFails(7, 4),
                                                 {}},
                                         SetCase{"fills_data_area",
                                                 kFour,
                                                 {"-t", "string", "-s", std::string(1023, 'y')},
                                                 0,
                                                 "",
                                                 Existing(1024, Bytes(std::string(1023, 'y')))},
                                         SetCase{"above_data_area",
                                                 kFour,
                                                 {"-t", "string", "-s", std::string(1024, 'y')},
                                                 244,
                                                 "Failed to set value\n",
                                                 {}}));

INSTANTIATE_TEST_SUITE_P(
    Refused, SetTest,
    testing::Values(
        SetCase{
            "unknown_type", kFour, {"-t", "float", "-s", "1"}, 1, "value-type float is not supported\n" + Usage(), {}},
        // A record whose DataSize runs past the data area is never rewritten.
        SetCase{"bad_record_keep_size",
                Existing(1025, {1}),
                {"-t", "int", "-s", "1", "-k"},
                234,
                "Variable size (1025 bytes) is larger than the data area (1024 bytes)\n",
                {}},
        SetCase{"bad_record_resize",
                Existing(4096, {1}),
                {"-t", "int", "-s", "1"},
                234,
                "Variable size (4096 bytes) is larger than the data area (1024 bytes)\n",
                {}}));

struct CreateCase {
    const char* label;
    std::string name;
    std::vector<std::string> args; // after -g and -n
    int status;
    std::string err;
    std::vector<uint8_t> new_var; // expected new_var; empty: nothing written
};

void PrintTo(const CreateCase& c, std::ostream* os)
{
    *os << c.label;
}

class CreateTest : public testing::TestWithParam<CreateCase> {};

TEST_P(CreateTest, WritesNewVar)
{
    const CreateCase& c = GetParam();
    VarsDir vars;
    std::vector<std::string> args = {"-g", kGuid, "-n", c.name};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = vars.Run(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(vars.Read("new_var"), c.new_var);
    // The kernel, not tessvin, makes the variable's directory.
    EXPECT_EQ(vars.List(), std::vector<std::string>{"new_var"});
}

// A new variable through efivarfs: a file with attributes 7 and the value,
// written by one create; a refused value leaves no file.
TEST_P(CreateTest, CreatesEfivarFile)
{
    const CreateCase& c = GetParam();
    VarsDir vars;
    std::vector<std::string> args = {"-g", kGuid, "-n", c.name};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunOptions options;
    options.interfaces = Interfaces::kEfivarfs;
    RunResult r = vars.Run(args, options);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    std::string file = c.name + "-" + kGuid;
    if (c.new_var.empty()) {
        EXPECT_EQ(vars.ListEfivars(), std::vector<std::string>{});
    } else {
        EXPECT_EQ(vars.ListEfivars(), std::vector<std::string>{file});
        EXPECT_EQ(ReadFile(vars.EfivarPath(file)), EfivarFile(c.new_var));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Missing, CreateTest,
    testing::Values(
        CreateCase{"int", kName, {"-t", "int", "-s", "0x2"}, 0, "", Record(kName, kGuidBytes, 4, {2, 0, 0, 0}, 0, 7)},
        CreateCase{
            "int16", kName, {"-t", "int16", "-s", "0x1234"}, 0, "", Record(kName, kGuidBytes, 2, {0x34, 0x12}, 0, 7)},
        CreateCase{"string",
                   kName,
                   {"-t", "string", "-s", "hello"},
                   0,
                   "",
                   Record(kName, kGuidBytes, 6, Bytes(std::string("hello\0", 6)), 0, 7)},
        // Every byte of the name goes into the low byte of one 16-bit unit.
        CreateCase{"eight_bit_name",
                   "V\xc3\xa4r",
                   {"-t", "int", "-s", "1"},
                   0,
                   "",
                   Record("V\xc3\xa4r", kGuidBytes, 4, {1, 0, 0, 0}, 0, 7)},
        CreateCase{"long_name",
                   std::string(200, 'N'),
                   {"-t", "int", "-s", "1"},
                   0,
                   "",
                   Record(std::string(200, 'N'), kGuidBytes, 4, {1, 0, 0, 0}, 0, 7)},
        // A new record's DataSize is 0, so nothing fits with -k.
        CreateCase{"keep_size_refused", kName, {"-t", "int", "-s", "2", "-k"}, 234, KeepSizeFails(1, 0), {}},
        CreateCase{"above_data_area",
                   kName,
                   {"-t", "string", "-s", std::string(1100, 'z')},
                   244,
                   "Failed to set value\n",
                   {}}));

TEST(CreateTest, GuidBytesInEfiLayout)
{
    VarsDir vars;
    RunResult r = vars.Run({"-g", "01020304-0506-0708-090a-0b0c0d0e0f10", "-n", kName, "-t", "int", "-s", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<uint8_t> guid = {4, 3, 2, 1, 6, 5, 8, 7, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(vars.Read("new_var"), Record(kName, guid, 4, {1, 0, 0, 0}, 0, 7));
}

TEST(WriteFailures, NewVarMissing)
{
    VarsDir vars;
    ASSERT_EQ(unlink((vars.path() + "/new_var").c_str()), 0);
    RunResult r = vars.Run({"-g", kGuid, "-n", kName, "-t", "int", "-s", "1"});
    EXPECT_EQ(r.status, 251);
    EXPECT_EQ(r.err, "Failed to open file: No such file or directory\n");
    EXPECT_EQ(vars.List(), std::vector<std::string>{});
}

TEST(WriteFailures, WriteError)
{
    VarsDir vars;
    RunOptions options;
    options.binds.push_back({"/dev/full", "/sys/firmware/efi/vars/new_var"});
    RunResult r = vars.Run({"-g", kGuid, "-n", kName, "-t", "int", "-s", "1"}, options);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Write failed: No space left on device\nFailed to set variable " + kName + "-" + kGuid + "\n");
}

TEST(WriteFailures, ShortWrite)
{
    VarsDir vars;
    RunOptions options;
    options.file_size_limit = 1000;
    RunResult r = vars.Run({"-g", kGuid, "-n", kName, "-t", "int", "-s", "1"}, options);
    EXPECT_EQ(r.status, 204);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Wrote only 0x3e8/0x824 bytes: Success\nFailed to set variable " + kName + "-" + kGuid + "\n");
}

// A value written can be read back: the record is rewritten in place.
TEST(SetThenRead, RoundTrip)
{
    VarsDir vars;
    vars.PutVariable(kName, kGuid, Existing(4, {5, 0, 0, 0}));
    std::vector<std::string> base = {"-g", kGuid, "-n", kName, "-t", "int"};
    std::vector<std::string> set = base;
    set.insert(set.end(), {"-s", "0x1234"});
    ASSERT_EQ(vars.Run(set).status, 0);
    ASSERT_EQ(vars.Run(set).status, 0);
    RunResult r = vars.Run(base);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "4660\n");
    EXPECT_EQ(r.err, "");
}

} // namespace
} // namespace tessvin_e2e

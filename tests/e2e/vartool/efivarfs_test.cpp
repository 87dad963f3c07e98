// Which interface a run uses, and what only efivarfs has: zero-length files
// that name no variable, and a failed create that must not leave one. The
// other efivarfs cases run the read and set tables (read_test, set_test).
#include <gtest/gtest.h>

#include <optional>
#include <ostream>

#include "runner.h"

namespace tessvin_e2e {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kNoFile = "Failed to stat file: No such file or directory\n";

struct ChoiceCase {
    const char* label;
    Interfaces interfaces;
    int status;
    std::string out;
    std::string err;
};

void PrintTo(const ChoiceCase& c, std::ostream* os)
{
    *os << c.label;
}

class ChoiceTest : public testing::TestWithParam<ChoiceCase> {};

// The variable holds 1 through sysfs and 2 through efivarfs.
TEST_P(ChoiceTest, ReadsThroughOneInterface)
{
    const ChoiceCase& c = GetParam();
    VarsDir vars;
    vars.PutVariable(kName, kGuid, Record(kName, kGuidBytes, 4, {1, 0, 0, 0}));
    WriteFile(vars.EfivarPath(kEfivar), {7, 0, 0, 0, 2, 0, 0, 0});
    RunOptions options;
    options.interfaces = c.interfaces;
    RunResult r = vars.Run({"-g", kGuid, "-n", kName, "-t", "int"}, options);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(Probe, ChoiceTest,
                         testing::Values(ChoiceCase{"sysfs_only", Interfaces::kSysfs, 0, "1\n", ""},
                                         ChoiceCase{"efivarfs_only", Interfaces::kEfivarfs, 0, "2\n", ""},
                                         ChoiceCase{"sysfs_first", Interfaces::kBoth, 0, "1\n", ""},
                                         ChoiceCase{"neither", Interfaces::kNone, 242, "", kNoFile}));

struct FileCase {
    const char* label;
    bool exists; // whether the file is there before the run, immutable
    std::vector<uint8_t> before;
    std::vector<std::string> args; // after -g and -n
    long long file_size_limit;
    int status;
    std::string err;
    std::optional<std::vector<uint8_t>> after; // the file after the run; none: gone
};

void PrintTo(const FileCase& c, std::ostream* os)
{
    *os << c.label;
}

class FileTest : public testing::TestWithParam<FileCase> {};

TEST_P(FileTest, LeavesFile)
{
    const FileCase& c = GetParam();
    VarsDir vars;
    std::string path = vars.EfivarPath(kEfivar);
    bool immutable = false;
    if (c.exists) {
        WriteFile(path, c.before);
        immutable = SetImmutable(path, true);
    }
    std::vector<std::string> args = {"-g", kGuid, "-n", kName};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunOptions options;
    options.interfaces = Interfaces::kEfivarfs;
    options.file_size_limit = c.file_size_limit;
    RunResult r = vars.Run(args, options);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    if (!c.after) {
        EXPECT_EQ(vars.ListEfivars(), std::vector<std::string>{});
    } else {
        EXPECT_EQ(vars.ListEfivars(), std::vector<std::string>{kEfivar});
        EXPECT_EQ(ReadFile(path), *c.after);
        EXPECT_EQ(IsImmutable(path), immutable);
    }
}

std::string ShortWrite(int written, int size)
{
    char text[64];
    snprintf(text, sizeof(text), "Wrote only 0x%x/0x%x bytes: Success\n", written, size);
    return text + ("Failed to set variable " + kEfivar + "\n");
}

const std::vector<std::string> kSetOne = {"-t", "int", "-s", "1"};
const std::vector<uint8_t> kVolatile = {6, 0, 0, 0, 9, 9, 9, 9};

INSTANTIATE_TEST_SUITE_P(Efivarfs, FileTest,
                         testing::Values(
                             // A zero-length file names no variable: not read, written as new,
                             // and removed when that write fails, like a file the run created.
                             FileCase{"empty_file_read", true, {}, {"-t", "int"}, -1, 242, kNoFile, Bytes{}},
                             FileCase{"empty_file_set", true, {}, kSetOne, -1, 0, "", Bytes{7, 0, 0, 0, 1, 0, 0, 0}},
                             FileCase{
                                 "empty_file_set_fails", true, {}, kSetOne, 6, 204, ShortWrite(6, 8), std::nullopt},
                             FileCase{"no_file", false, {}, kSetOne, 6, 204, ShortWrite(6, 8), std::nullopt},
                             // A failed rewrite keeps the file and its flag.
                             FileCase{"rewrite_fails",
                                      true,
                                      kVolatile,
                                      {"-t", "int", "-s", "0x01020304"},
                                      5,
                                      204,
                                      ShortWrite(5, 8),
                                      Bytes{6, 0, 0, 0, 4, 9, 9, 9}},
                             FileCase{"shorter_than_attributes",
                                      true,
                                      {6, 0},
                                      kSetOne,
                                      -1,
                                      251,
                                      "EFI variable size is inconsistent with internal definition\n",
                                      Bytes{6, 0}}));

} // namespace
} // namespace tessvin_e2e

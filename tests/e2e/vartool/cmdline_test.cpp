// The command line: usage, mandatory options, option forms, GUID and name
// checks, and the log copy of every message.
#include <gtest/gtest.h>

#include <ostream>

#include "runner.h"

namespace tessvin_e2e {
namespace {

const std::string kMandatory = "Mandatory parameters are: Guid, Varname and Value-type\n";
const std::string kBinary = TESSVIN_PATH;

struct CmdCase {
    const char* label;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
};

void PrintTo(const CmdCase& c, std::ostream* os)
{
    *os << c.label;
}

// Every case runs against an existing int variable holding 2, so that a
// command line wrongly accepted shows up as a read or a write.
class CommandLineTest : public testing::TestWithParam<CmdCase> {};

TEST_P(CommandLineTest, Runs)
{
    const CmdCase& c = GetParam();
    VarsDir vars;
    std::vector<uint8_t> raw = Record(kName, kGuidBytes, 4, {2, 0, 0, 0});
    vars.PutVariable(kName, kGuid, raw);
    RunResult r = vars.Run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(vars.Read(kRawVar), raw);
    EXPECT_TRUE(vars.Read("new_var").empty());
}

const std::string kName511(511, 'n');

INSTANTIATE_TEST_SUITE_P(
    Usage, CommandLineTest,
    testing::Values(CmdCase{"no_options", {}, 1, "", kMandatory + Usage()},
                    CmdCase{"no_type", {"-g", kGuid, "-n", kName}, 1, "", kMandatory + Usage()},
                    CmdCase{"no_guid", {"-n", kName, "-t", "int"}, 1, "", kMandatory + Usage()},
                    CmdCase{"no_name", {"-g", kGuid, "-t", "int", "-s", "1"}, 1, "", kMandatory + Usage()},
                    CmdCase{"help", {"-h"}, 1, "", Usage()}, CmdCase{"help_long", {"--help"}, 1, "", Usage()},
                    CmdCase{"help_with_a_read", {"-g", kGuid, "-n", kName, "-t", "int", "-h"}, 1, "", Usage()},
                    CmdCase{"unknown_option",
                            {"-x", "-g", kGuid, "-n", kName, "-t", "int"},
                            1,
                            "",
                            kBinary + ": invalid option -- 'x'\n" + Usage()},
                    CmdCase{"unknown_long_option",
                            {"--frobnicate"},
                            1,
                            "",
                            kBinary + ": unrecognized option '--frobnicate'\n" + Usage()},
                    CmdCase{"missing_argument",
                            {"-n", kName, "-t", "int", "-g"},
                            1,
                            "",
                            kBinary + ": option requires an argument -- 'g'\n" + Usage()},
                    CmdCase{"unsupported_set_type",
                            {"-g", kGuid, "-n", kName, "-t", "float", "-s", "1"},
                            1,
                            "",
                            "value-type float is not supported\n" + Usage()}));

INSTANTIATE_TEST_SUITE_P(
    GuidAndName, CommandLineTest,
    testing::Values(
        CmdCase{"guid_not_hex", {"-g", "xyz", "-n", kName, "-t", "int"}, 1, "", "Invalid GUID format: xyz\n" + Usage()},
        CmdCase{"guid_short",
                {"-g", "8be4df61-93ca-11d2-aa0d", "-n", kName, "-t", "int"},
                1,
                "",
                "Invalid GUID format: 8be4df61-93ca-11d2-aa0d\n" + Usage()},
        // Either text, with a '/', would lead the path out of the variable's
        // directory; the set is refused before any file is opened.
        CmdCase{"guid_with_slash",
                {"-g", kGuid + "/../../../../tmp/x", "-n", kName, "-t", "int", "-s", "1"},
                1,
                "",
                "Invalid GUID format: " + kGuid + "/../../../../tmp/x\n" + Usage()},
        CmdCase{"name_with_slash", {"-g", kGuid, "-n", "../../x", "-t", "int", "-s", "1"}, 1, "", Usage()},
        CmdCase{"name_is_slash", {"-g", kGuid, "-n", "/", "-t", "int"}, 1, "", Usage()},
        CmdCase{"name_512", {"-g", kGuid, "-n", std::string(512, 'n'), "-t", "int"}, 1, "", Usage()},
        // 511 characters pass, but the directory name is too long for the
        // file system: stat fails, and nothing is created.
        CmdCase{"name_511_read",
                {"-g", kGuid, "-n", kName511, "-t", "int"},
                242,
                "",
                "Failed to stat file: File name too long\n"},
        CmdCase{"name_511_set",
                {"-g", kGuid, "-n", kName511, "-t", "int", "-s", "1"},
                242,
                "",
                "Failed to stat file: File name too long\n"}));

INSTANTIATE_TEST_SUITE_P(
    Accepted, CommandLineTest,
    testing::Values(
        CmdCase{"long_options", {"--guid", kGuid, "--varname", kName, "--value-type", "int"}, 0, "2\n", ""},
        CmdCase{"verbose", {"-v", "-g", kGuid, "-n", kName, "-t", "int", "--verbose"}, 0, "2\n", ""},
        CmdCase{
            "last_repeat_counts", {"-g", kGuid, "-n", "Other", "-n", kName, "-t", "string", "-t", "int"}, 0, "2\n", ""},
        CmdCase{"words_ignored", {"extra", "-g", kGuid, "more", "-n", kName, "-t", "int", "end"}, 0, "2\n", ""},
        CmdCase{"keep_size_alone_reads", {"-g", kGuid, "-n", kName, "-t", "int", "-k"}, 0, "2\n", ""},
        // Without -s the type is only looked at when printing.
        CmdCase{"unsupported_read_type",
                {"-g", kGuid, "-n", kName, "-t", "float"},
                234,
                "",
                "Value type float is not supported.\n"}));

TEST(CommandLine, UsageNamesTheProgramAsInvoked)
{
    VarsDir vars;
    RunOptions options;
    options.argv0 = "/opt/tools/efivt";
    RunResult r = vars.Run({"-h"}, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, Usage("efivt"));
}

// The log copy: each message once, with its priority and tag; nothing of
// getopt's own report. Priorities are the user facility with error (11) or
// information (14).
struct LogCase {
    const char* label;
    std::vector<std::string> args;
    std::vector<LogEntry> log;
};

void PrintTo(const LogCase& c, std::ostream* os)
{
    *os << c.label;
}

std::string Line(const std::string& message)
{
    return message.substr(0, message.size() - 1);
}

const int kErr = 11;
const int kInfo = 14;

class LogTest : public testing::TestWithParam<LogCase> {};

TEST_P(LogTest, SendsEachMessageOnce)
{
    const LogCase& c = GetParam();
    VarsDir vars;
    vars.PutVariable(kName, kGuid, Record(kName, kGuidBytes, 4, {2, 0, 0, 0}));
    vars.PutVariable("Text", kGuid, Record("Text", kGuidBytes, 4, {'a', 'b', 'c', 0}));
    RunResult r = vars.Run(c.args);
    EXPECT_EQ(r.log, c.log) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, LogTest,
    testing::Values(LogCase{"int_value", {"-g", kGuid, "-n", kName, "-t", "int"}, {{kInfo, "libtessvin", "2"}}},
                    LogCase{
                        "string_value", {"-g", kGuid, "-n", "Text", "-t", "string"}, {{kInfo, "libtessvin", "abc"}}},
                    LogCase{"successful_set", {"-g", kGuid, "-n", kName, "-t", "int", "-s", "3"}, {}},
                    LogCase{"mandatory", {}, {{kErr, "tessvin", Line(kMandatory)}, {kErr, "tessvin", Line(Usage())}}},
                    LogCase{"invalid_guid",
                            {"-g", "x", "-n", kName, "-t", "int"},
                            {{kErr, "libtessvin", "Invalid GUID format: x"}, {kErr, "tessvin", Line(Usage())}}},
                    LogCase{"unknown_option", {"-x"}, {{kErr, "tessvin", Line(Usage())}}},
                    LogCase{"value_too_large",
                            {"-g", kGuid, "-n", kName, "-t", "int16", "-s", "70000"},
                            {{kErr, "tessvin", "Specified value is too large for type \"int16\""}}},
                    LogCase{"missing_variable",
                            {"-g", kGuid, "-n", "Nope", "-t", "int"},
                            {{kErr, "libtessvin", "Failed to stat file: No such file or directory"}}},
                    LogCase{"keep_size",
                            {"-g", kGuid, "-n", kName, "-t", "string", "-s", "abcdef", "-k"},
                            {{kErr, "libtessvin", "New value is larger than original size (7 > 4) and keep_size=1"},
                             {kErr, "libtessvin", "Failed to set value"}}}));

} // namespace
} // namespace tessvin_e2e

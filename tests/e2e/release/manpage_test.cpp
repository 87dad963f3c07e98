// The man pages: each renders without a warning, and ZORVIK(8) names every
// command word of the program's usage text and every code of its error
// table with its exit status, so that the page cannot fall behind the
// program.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "framework/internal.h"
#include "support/Fwemu.h"
#include "support/Process.h"

using testsupport::ProcessOptions;
using testsupport::ProcessResult;
using testsupport::RunProcess;

namespace {

const std::string kManDir = MAN_DIR;

std::string Lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
}

// The page as man shows it: plain ASCII, wide enough that table rows keep
// to one line.
ProcessResult ShowPage(const std::string& page)
{
    ProcessOptions options;
    options.env = std::vector<std::string>{"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C", "MANWIDTH=200"};
    return RunProcess("/usr/bin/man", {"man", "-l", kManDir + "/" + page}, options);
}

class ManPage : public testing::TestWithParam<const char*> {};

TEST_P(ManPage, RendersWithoutWarnings)
{
    const std::string page = kManDir + "/" + GetParam();
    const ProcessResult groff = RunProcess("/usr/bin/groff", {"groff", "-t", "-man", "-ww", "-z", page});
    EXPECT_EQ(groff.status, 0) << groff.err;
    EXPECT_EQ(groff.err, "");
    const ProcessResult man = ShowPage(GetParam());
    EXPECT_EQ(man.status, 0) << man.err;
    EXPECT_EQ(man.err, "");
    EXPECT_NE(man.out.find("NAME"), std::string::npos) << man.out;
}

INSTANTIATE_TEST_SUITE_P(Pages, ManPage, testing::Values("ZORVIK.8", "tessvin.8", "fwemu.1"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

TEST(ZorvikPage, NamesEveryCommandWordOfTheUsageText)
{
    testsupport::FwemuOptions options;
    options.fwemu = FWEMU_PATH;
    options.program = ZORVIK_HOST_PATH;
    const nlohmann::json platform = nlohmann::json::parse(Slurp(PLATFORMS_DIR "/legacy-desktop.json"));
    const testsupport::FwemuResult usage = testsupport::RunFwemu(platform, options);
    ASSERT_EQ(usage.status, 0) << usage.out << usage.err;

    // Help lines: a bar, the command word in capitals right-aligned, " - ".
    std::set<std::string> words;
    const std::regex helpLine(R"(^\| *([A-Z]+) - )");
    std::istringstream lines(usage.out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, helpLine))
            words.insert(m[1]);
    }
    ASSERT_GE(words.size(), 9u) << usage.out;

    const std::string page = Lower(ShowPage("ZORVIK.8").out);
    for (const std::string& word : words)
        EXPECT_NE(page.find("/" + Lower(word)), std::string::npos) << "ZORVIK(8) lacks /" << word;
}

TEST(ZorvikPage, ListsEveryExitStatusOfTheErrorTable)
{
    const std::string page = ShowPage("ZORVIK.8").out;
    ASSERT_GT(CoreErrorListSize, 100u);
    for (unsigned int i = 0; i < CoreErrorListSize; i++) {
        const ERROR_LIST_ENTRY& entry = CoreErrorList[i];
        // The row: code in hexadecimal, exit status in decimal, the message's
        // first words (long messages wrap within their column).
        std::string message = entry.Message;
        const size_t cut = message.find(' ', message.find(' ') + 1);
        if (cut != std::string::npos)
            message.resize(cut);
        char row[64];
        std::snprintf(row, sizeof row, "0x%02x +%u +", unsigned(entry.Code), unsigned(entry.Code));
        const std::regex pattern(row + std::regex_replace(message, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)"));
        EXPECT_TRUE(std::regex_search(page, pattern)) << "ZORVIK(8) lacks the row of " << row << message;
    }
}

} // namespace

// The module pipeline: parse and execution order, where each stops, and the
// clean-up chain that skips null slots without ending.
#include <gtest/gtest.h>

#include <string>

#include "framework/Main.h"

namespace {

std::string g_Log;

struct FakeModule {
    QX3_QUEUE_ITEM item;
    int parseResult;
    int execResult;
    bool enableOnParse;
    bool stopParsing;
};

FakeModule g_Fakes[4];

template <int N> int FakeParse(QX3_ARGV_LIST&, QX3_QUEUE_ITEM* self)
{
    g_Log += "p" + std::to_string(N);
    if (g_Fakes[N].enableOnParse)
        self->bEnable = true;
    self->bStopParsing = g_Fakes[N].stopParsing;
    return g_Fakes[N].parseResult;
}

template <int N> int FakeExec(QX3_QUEUE_LIST&)
{
    g_Log += "x" + std::to_string(N);
    return g_Fakes[N].execResult;
}

template <int N> void FakeError()
{
    g_Log += "e" + std::to_string(N);
}

PARSING_COMMAND_FUNC Parsers[] = {FakeParse<0>, FakeParse<1>, FakeParse<2>, FakeParse<3>};
EXECUTION_ACTION_FUNC Executors[] = {FakeExec<0>, FakeExec<1>, FakeExec<2>, FakeExec<3>};
ERROR_ACTION_FUNC ErrorActions[] = {FakeError<0>, FakeError<1>, FakeError<2>, FakeError<3>};

struct ModuleSetup {
    int parse[4];
    int exec[4];
    bool enable[4];
    bool stop[4];
    bool hasParser[4];
};

void Install(const ModuleSetup& s)
{
    QueueItemList.init();
    g_Log.clear();
    g_LastErrorCode = 0;
    for (int i = 0; i < 4; i++) {
        FakeModule& f = g_Fakes[i];
        f = FakeModule{};
        f.parseResult = s.parse[i];
        f.execResult = s.exec[i];
        f.enableOnParse = s.enable[i];
        f.stopParsing = s.stop[i];
        f.item.ParsingCommand = s.hasParser[i] ? Parsers[i] : nullptr;
        f.item.ExecutionAction = Executors[i];
        f.item.ErrorAction = ErrorActions[i];
        QueueItemList.push_back(&f.item);
    }
}

TEST(Pipeline, ParseAndExecutionOrder)
{
    struct Case {
        const char* name;
        ModuleSetup setup;
        std::string log;
        int lastCode;
    } cases[] = {
        {"all parse, enabled ones run in list order",
         {{0, 0, 0, 0}, {0, 0, 0, 0}, {true, false, true, true}, {}, {true, true, true, true}},
         "p0p1p2p3x0x2x3",
         0},
        {"a parse error stops parsing and nothing runs",
         {{0, 5, 0, 0}, {0, 0, 0, 0}, {true, true, true, true}, {}, {true, true, true, true}},
         "p0p1",
         5},
        {"stop-parsing counts only together with enable",
         {{0, 0, 0, 0}, {0, 0, 0, 0}, {false, true, true, true}, {true, true, false, false}, {true, true, true, true}},
         "p0p1x1",
         0},
        {"a module without parser is skipped in parsing",
         {{0, 0, 0, 0}, {0, 0, 0, 0}, {true, true, true, true}, {}, {true, false, true, true}},
         "p0p2p3x0x2x3",
         0},
        {"the first failing module stops execution and gets its error action",
         {{0, 0, 0, 0}, {0, 36, 7, 0}, {true, true, true, true}, {}, {true, true, true, true}},
         "p0p1p2p3x0x1e1",
         36},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Install(c.setup);
        ParseUserInput();
        if (g_LastErrorCode == 0)
            ExecuteEnabledModules();
        EXPECT_EQ(g_Log, c.log);
        EXPECT_EQ(g_LastErrorCode, c.lastCode);
        QueueItemList.clear();
    }
}

int g_CleanCount = 0;
void CountClean()
{
    g_CleanCount++;
}

TEST(Pipeline, CleanAllVisitsEverySlotAndEmptiesTheLists)
{
    static char word0[] = "prog";
    static char word1[] = "/x";
    char* argv[] = {word0, word1};
    ArgvItemList.init();
    PutArgvIntoList(ArgvItemList, 2, argv);
    ASSERT_EQ(ArgvItemList.size(), 2u);
    EXPECT_FALSE(ArgvItemList[1]->consumed);
    EXPECT_EQ(ArgvItemList[1]->text, word1);

    g_CleanCount = 0;
    CleanFlashIfcHook = CountClean;
    CleanUpFileHubHook = nullptr; // a null slot in the middle does not end the chain
    CleanMemMgrHook = CountClean;
    CleanSetFirstBootOptionHook = CountClean;
    PtrLastCleanUpResourceHook = CountClean;
    CleanAll();
    EXPECT_EQ(g_CleanCount, 4);
    EXPECT_TRUE(ArgvItemList.empty());
    EXPECT_TRUE(QueueItemList.empty());
    CleanFlashIfcHook = CleanMemMgrHook = CleanSetFirstBootOptionHook = PtrLastCleanUpResourceHook = nullptr;
}

} // namespace

// The command modules as the pipeline sees them: GetTypeDA's set-up, which
// words each command claims or gives back, which command flag it raises, in
// which modes it passes the boot-mode gate, and how the commands end when the
// firmware answers no request at all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bootcfg/flashvar.h"
#include "firmware/biosinfo.h"
#include "firmware/oshook.h"
#include "framework/GlobalVariable.h"
#include "framework/Main.h"

namespace {

const uint32_t FAKE_PHYS = 0x00200000;

bool HeapSmiBuffer(unsigned int size, unsigned int* phys, unsigned char** virt)
{
    *virt = (unsigned char*)malloc(size);
    if (*virt != nullptr)
        memset(*virt, 0xA5, size); // registration must clear it
    *phys = FAKE_PHYS;
    return *virt != nullptr;
}

bool FailingSmiBuffer(unsigned int, unsigned int*, unsigned char**)
{
    return false;
}

// The whole registration chain into QueueItemList. Registration allocates
// the shared buffer twice; here both times a static one, and the suite's own
// buffer is put back afterwards.
int RegisterAllModules()
{
    static unsigned char registrationBuffer[SMI_BUFFER_SIZE];
    ALLOC_PHY_MEM_FUNC savedAlloc = AllocPhyMemImpl;
    unsigned char* savedBuffer = gpIntrBuf;
    uint32_t savedPhys = gIntrBufPhyAddr;
    AllocPhyMemImpl = [](unsigned int, unsigned int* phys, unsigned char** virt) {
        *virt = registrationBuffer;
        *phys = FAKE_PHYS;
        return true;
    };
    int registration = InitializeModules();
    AllocPhyMemImpl = savedAlloc;
    gpIntrBuf = savedBuffer;
    gIntrBufPhyAddr = savedPhys;
    return registration;
}

// The nine command modules in their registration order.
REGISTER_QUEUE_ITEM_FUNC* const COMMAND_SLOTS[] = {
    &RegisterAddBootOptionQueueItem,     &RegisterDelBootOptionQueueItem, &RegisterGetBootOptionQueueItem,
    &RegisterGetBootOrderQueueItem,      &RegisterGetModeQueueItem,       &RegisterSetFirstBootOptionQueueItem,
    &RegisterSetFirstBootOrderQueueItem, &RegisterSetModeQueueItem,       &RegisterSetSecureBootQueueItem,
};

bool* const COMMAND_FLAGS[] = {
    &GetBootOrderFlag,  &SetFirstBootOrderFlag,  &GetBootOptionFlag, &AddBootOptionFlag,
    &DelBootOptionFlag, &SetFirstBootOptionFlag, &SetSecureBootFlag,
};

class CommandLine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InitializeGlobalVariables();
        ALLOC_PHY_MEM_FUNC saved = AllocPhyMemImpl;
        AllocPhyMemImpl = HeapSmiBuffer;
        QX3_QUEUE_LIST modules;
        ASSERT_EQ(RegisterGetTypeDAQueueItem(modules), 0);
        AllocPhyMemImpl = saved;
    }

    void TearDown() override
    {
        for (unsigned int i = 0; i < m_Args.size(); i++)
            delete m_Args[i];
        m_Args.clear();
        m_Modules.clear();
    }

    // Registers the command modules afresh and offers them the words, as the
    // pipeline does. Returns the index of the first unclaimed word after the
    // program path, or 0 when every word was claimed.
    unsigned int Parse(const std::vector<std::string>& words)
    {
        TearDown();
        for (bool* flag : COMMAND_FLAGS)
            *flag = false;
        for (REGISTER_QUEUE_ITEM_FUNC* slot : COMMAND_SLOTS)
            EXPECT_EQ((*slot)(m_Modules), 0);
        m_Words = words;
        m_Words.insert(m_Words.begin(), "ZORVIK");
        for (std::string& w : m_Words)
            m_Args.push_back(new QX3_ARGV_ITEM{&w[0], false});
        for (unsigned int i = 0; i < m_Modules.size(); i++)
            EXPECT_EQ(m_Modules[i]->ParsingCommand(m_Args, m_Modules[i]), 0);
        for (unsigned int i = 1; i < m_Args.size(); i++) {
            if (!m_Args[i]->consumed)
                return i;
        }
        return 0;
    }

    // The one enabled module, or null.
    QX3_QUEUE_ITEM* Enabled()
    {
        QX3_QUEUE_ITEM* found = nullptr;
        for (unsigned int i = 0; i < m_Modules.size(); i++) {
            if (m_Modules[i]->bEnable) {
                EXPECT_EQ(found, nullptr) << "two modules enabled";
                found = m_Modules[i];
            }
        }
        return found;
    }

    bool* RaisedFlag()
    {
        bool* raised = nullptr;
        for (bool* flag : COMMAND_FLAGS) {
            if (*flag) {
                EXPECT_EQ(raised, nullptr) << "two command flags raised";
                raised = flag;
            }
        }
        return raised;
    }

    std::vector<std::string> m_Words;
    QX3_ARGV_LIST m_Args;
    QX3_QUEUE_LIST m_Modules;
};

TEST_F(CommandLine, GetTypeDASetsUpTheCallingInterface)
{
    EXPECT_EQ(SMIPort, 0xB2);
    EXPECT_EQ(SMIFunNum, 0x0D);
    EXPECT_EQ(gIntrBufPhyAddr, FAKE_PHYS);
    ASSERT_NE(gpIntrBuf, nullptr);
    // The manufacturing-mode query: a zeroed block with class 99, select 17
    // and no preset status; the rest of the buffer zero.
    SMI_CMD_BUFFER* block = (SMI_CMD_BUFFER*)gpIntrBuf;
    EXPECT_EQ(block->Class, 99);
    EXPECT_EQ(block->Select, 17);
    for (unsigned int i = 4; i < SMI_BUFFER_SIZE; i++)
        ASSERT_EQ(gpIntrBuf[i], 0) << "byte " << i;

    // The record: id 8, priority 20000, never enabled, claims nothing.
    QX3_QUEUE_LIST modules;
    ALLOC_PHY_MEM_FUNC saved = AllocPhyMemImpl;
    unsigned char* buffer = gpIntrBuf;
    uint32_t phys = gIntrBufPhyAddr;
    AllocPhyMemImpl = FailingSmiBuffer;
    testing::internal::CaptureStdout();
    EXPECT_EQ(RegisterGetTypeDAQueueItem(modules), 36);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[DEBUG] \tFailed to allocate physical memory pool.\n");
    AllocPhyMemImpl = saved;
    gpIntrBuf = buffer;
    gIntrBufPhyAddr = phys;
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0]->ModuleId, 8u);
    EXPECT_EQ(modules[0]->Priority, 20000);
    EXPECT_FALSE(modules[0]->bEnable);
    m_Words = {"ZORVIK", "/GetTypeDA"};
    m_Args.push_back(new QX3_ARGV_ITEM{&m_Words[1][0], false});
    EXPECT_EQ(modules[0]->ParsingCommand(m_Args, modules[0]), 0);
    EXPECT_FALSE(m_Args[0]->consumed);
}

TEST_F(CommandLine, AcceptedForms)
{
    const std::string label127(127, 'L');
    const std::string path255 = "\\" + std::string(254, 'p');
    struct Case {
        std::vector<std::string> words;
        ENUM_MODULE_ID module;
        bool* flag; // null for the commands that do not pass the gate
    } cases[] = {
        {{"/GetBootOrder"}, MODULE_ID_GET_BOOT_ORDER, &GetBootOrderFlag},
        {{"-gbo"}, MODULE_ID_GET_BOOT_ORDER, &GetBootOrderFlag},
        {{"/GETBOOTORDER"}, MODULE_ID_GET_BOOT_ORDER, &GetBootOrderFlag},
        {{"/SetFirstBootOrder", "SATA HDD"}, MODULE_ID_SET_FIRST_BOOT_ORDER, &SetFirstBootOrderFlag},
        {{"-sFbO", "/gbo"}, MODULE_ID_SET_FIRST_BOOT_ORDER, &SetFirstBootOrderFlag},
        {{"/GetBootOption"}, MODULE_ID_GET_BOOT_OPTION, &GetBootOptionFlag},
        {{"-GBOP"}, MODULE_ID_GET_BOOT_OPTION, &GetBootOptionFlag},
        {{"/AddBootOption", "Recovery", "\\EFI\\BOOT\\BOOTX64.EFI"}, MODULE_ID_ADD_BOOT_OPTION, &AddBootOptionFlag},
        // A loader without its backslash is accepted here and refused later.
        {{"-abop", "x", "EFI\\BOOT"}, MODULE_ID_ADD_BOOT_OPTION, &AddBootOptionFlag},
        {{"/abop", label127, path255}, MODULE_ID_ADD_BOOT_OPTION, &AddBootOptionFlag},
        {{"/DBOP", "Recovery"}, MODULE_ID_DEL_BOOT_OPTION, &DelBootOptionFlag},
        {{"/DelBootOption", std::string(255, 'L')}, MODULE_ID_DEL_BOOT_OPTION, &DelBootOptionFlag},
        {{"/sfbop", "Recovery"}, MODULE_ID_SET_FIRST_BOOT_OPTION, &SetFirstBootOptionFlag},
        {{"-SetFirstBootOption", std::string(255, 'L')}, MODULE_ID_SET_FIRST_BOOT_OPTION, &SetFirstBootOptionFlag},
        {{"/GetMode"}, MODULE_ID_GET_MODE, nullptr},
        {{"-gm"}, MODULE_ID_GET_MODE, nullptr},
        {{"/SetMode", "Legacy"}, MODULE_ID_SET_MODE, nullptr},
        {{"-sm", "UEFI"}, MODULE_ID_SET_MODE, nullptr},
        {{"/SetSecureBoot", "ON"}, MODULE_ID_SET_SECURE_BOOT, &SetSecureBootFlag},
        {{"/SetSecureBoot", "Off"}, MODULE_ID_SET_SECURE_BOOT, &SetSecureBootFlag},
        {{"/ssb", "of"}, MODULE_ID_SET_SECURE_BOOT, &SetSecureBootFlag},
        {{"-SSB", "often"}, MODULE_ID_SET_SECURE_BOOT, &SetSecureBootFlag},
        {{"/SSBOFF"}, MODULE_ID_SET_SECURE_BOOT, &SetSecureBootFlag},
        {{"-gsb"}, MODULE_ID_SET_SECURE_BOOT, &SetSecureBootFlag},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0] + " " + (c.words.size() > 1 ? c.words[1].substr(0, 20) : ""));
        EXPECT_EQ(Parse(c.words), 0u);
        QX3_QUEUE_ITEM* enabled = Enabled();
        ASSERT_NE(enabled, nullptr);
        EXPECT_EQ(enabled->ModuleId, c.module);
        EXPECT_EQ(RaisedFlag(), c.flag);
    }
}

// Every registered module has an entry here, in registration order: a
// command with every form of its line and the modes whose boot-mode gate it
// passes, or a module that takes no words. So a module registered without an
// entry, or a command missing from the gate's lists (which would be refused
// with a misleading 221 or 222), fails this test.
TEST_F(CommandLine, EveryRegisteredCommandPassesTheGateInItsModes)
{
    enum GATE { TAKES_NO_WORDS, NOT_GATED, LEGACY_ONLY, UEFI_ONLY };
    struct Module {
        ENUM_MODULE_ID id;
        GATE gate;
        std::vector<std::vector<std::string>> lines;
    } table[] = {
        {MODULE_ID_BIOS_INFO, TAKES_NO_WORDS, {}},
        {MODULE_ID_SECURE_FLASH, TAKES_NO_WORDS, {}},
        {MODULE_ID_USAGE_HEAD, TAKES_NO_WORDS, {}},
        {MODULE_ID_GET_TYPE_DA, TAKES_NO_WORDS, {}},
        {MODULE_ID_ADD_BOOT_OPTION, UEFI_ONLY, {{"/AddBootOption", "a", "\\b"}, {"-abop", "a", "\\b"}}},
        {MODULE_ID_DEL_BOOT_OPTION, UEFI_ONLY, {{"/DelBootOption", "a"}, {"/DBOP", "a"}}},
        {MODULE_ID_GET_BOOT_OPTION, UEFI_ONLY, {{"/GetBootOption"}, {"/GBOP"}}},
        {MODULE_ID_GET_BOOT_ORDER, LEGACY_ONLY, {{"/GetBootOrder"}, {"/GBO"}}},
        // GetMode and SetMode never ask the gate and run in both modes.
        {MODULE_ID_GET_MODE, NOT_GATED, {{"/GetMode"}, {"/GM"}}},
        {MODULE_ID_SET_FIRST_BOOT_OPTION, UEFI_ONLY, {{"/SetFirstBootOption", "a"}, {"/SFBOP", "a"}}},
        {MODULE_ID_SET_FIRST_BOOT_ORDER, LEGACY_ONLY, {{"/SetFirstBootOrder", "a"}, {"/SFBO", "a"}}},
        {MODULE_ID_SET_MODE, NOT_GATED, {{"/SetMode", "legacy"}, {"/SM", "uefi"}}},
        {MODULE_ID_SET_SECURE_BOOT, UEFI_ONLY, {{"/SetSecureBoot", "on"}, {"/SSB", "off"}, {"/SSBOFF"}, {"/GSB"}}},
        {MODULE_ID_USAGE_FOOT, TAKES_NO_WORDS, {}},
    };

    ASSERT_EQ(RegisterAllModules(), 0);
    std::vector<ENUM_MODULE_ID> registered, listed;
    for (unsigned int i = 0; i < QueueItemList.size(); i++)
        registered.push_back(QueueItemList[i]->ModuleId);
    for (const Module& m : table)
        listed.push_back(m.id);
    ASSERT_EQ(registered, listed);

    // Both encodings of the boot mode, and a value that is neither mode.
    const BOOT_MODE_VALUES encodings[] = {{0, 1}, {1, 2}};
    const uint32_t NEITHER = 7;
    for (const Module& m : table) {
        for (const std::vector<std::string>& line : m.lines) {
            SCOPED_TRACE(line[0]);
            // The whole pipeline is offered the line.
            TearDown();
            for (bool* flag : COMMAND_FLAGS)
                *flag = false;
            m_Words = line;
            m_Words.insert(m_Words.begin(), "ZORVIK");
            for (std::string& w : m_Words)
                m_Args.push_back(new QX3_ARGV_ITEM{&w[0], false});
            for (unsigned int i = 0; i < QueueItemList.size(); i++) {
                QX3_QUEUE_ITEM* module = QueueItemList[i];
                module->bEnable = false;
                if (module->ParsingCommand != nullptr) {
                    EXPECT_EQ(module->ParsingCommand(m_Args, module), 0);
                }
            }
            for (unsigned int i = 1; i < m_Args.size(); i++)
                EXPECT_TRUE(m_Args[i]->consumed) << m_Words[i];
            for (unsigned int i = 0; i < QueueItemList.size(); i++) {
                if (table[i].gate != TAKES_NO_WORDS) {
                    EXPECT_EQ(QueueItemList[i]->bEnable, table[i].id == m.id) << "module " << table[i].id;
                }
            }

            const int inLegacy = m.gate == LEGACY_ONLY ? 0 : (int)QX3_ERR_ONLY_UEFI;
            const int inUefi = m.gate == UEFI_ONLY ? 0 : (int)QX3_ERR_ONLY_LEGACY;
            for (const BOOT_MODE_VALUES& mode : encodings) {
                EXPECT_EQ(CheckBootModeGate(mode.Legacy, &mode), inLegacy);
                EXPECT_EQ(CheckBootModeGate(mode.Uefi, &mode), inUefi);
                EXPECT_EQ(CheckBootModeGate(NEITHER, &mode), QX3_ERR_GET_MODE);
            }
        }
    }
    QueueItemList.clear();
}

// A refused line leaves one word unclaimed; the pipeline names the first
// unclaimed word and shows the usage text. Nothing is enabled.
TEST_F(CommandLine, RefusedLinesNameTheRightWord)
{
    const std::string label128(128, 'L');
    const std::string path256 = "\\" + std::string(255, 'p');
    struct Case {
        const char* why;
        std::vector<std::string> words;
        unsigned int unclaimed;
    } cases[] = {
        {"not a command", {"/Foo"}, 1},
        {"no prefix", {"GetBootOrder"}, 1},
        {"backslash is no prefix", {"\\GetBootOrder"}, 1},
        {"longer than the command", {"/GetBootOrderX"}, 1},
        {"abbreviation", {"/GetBoot"}, 1},
        {"longer than any command buffer", {"/" + std::string(70, 'G')}, 1},
        {"GetBootOrder, extra word: command word given back", {"/GetBootOrder", "x"}, 1},
        {"GetBootOrder after another word", {"x", "/gbo"}, 1},
        {"SetFirstBootOrder without device", {"/SetFirstBootOrder"}, 1},
        {"SetFirstBootOrder, extra word: index 2 given back", {"/sfbo", "a", "b"}, 2},
        {"GetBootOption, extra word", {"/GetBootOption", "x"}, 1},
        {"AddBootOption without loader", {"/abop", "label"}, 2},
        {"AddBootOption alone", {"/abop"}, 1},
        {"AddBootOption, five words", {"/abop", "a", "\\b", "c"}, 2},
        {"AddBootOption label over 127", {"/abop", label128, "\\x"}, 2},
        {"AddBootOption loader over 255", {"/abop", "x", path256}, 3},
        {"DelBootOption alone", {"/dbop"}, 1},
        {"DelBootOption, extra word", {"/dbop", "a", "b"}, 2},
        {"DelBootOption label over 255", {"/dbop", std::string(256, 'L')}, 2},
        {"SetFirstBootOption alone", {"/sfbop"}, 1},
        {"SetFirstBootOption label over 255", {"/sfbop", std::string(300, 'L')}, 2},
        {"GetMode, extra word", {"/GetMode", "x"}, 1},
        {"SetMode alone", {"/SetMode"}, 1},
        {"SetMode, unknown mode", {"/SetMode", "bios"}, 2},
        {"SetMode, extra word", {"/sm", "uefi", "x"}, 2},
        {"SetSecureBoot, unknown state", {"/SetSecureBoot", "yes"}, 2},
        {"SetSecureBoot, 'o' alone", {"/ssb", "o"}, 2},
        {"SetSecureBoot alone", {"/ssb"}, 1},
        {"GSB with a word", {"/GSB", "extra"}, 1},
        {"SSBOFF with a word", {"/SSBOFF", "x"}, 1},
        // One command per line: the second command word is given back.
        {"SetFirstBootOrder with DelBootOption's word", {"/SetFirstBootOrder", "/DelBootOption"}, 2},
        {"SetFirstBootOrder with SetFirstBootOption's word", {"/SFBO", "/SFBOP"}, 2},
        {"SetFirstBootOption with SetFirstBootOrder's word", {"/sfbop", "-sfbo"}, 2},
        {"DelBootOption with SetFirstBootOption's word", {"/dbop", "/sfbop"}, 2},
        {"SetMode with SetSecureBoot's word", {"/SSB", "/SM"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        unsigned int first = Parse(c.words);
        EXPECT_EQ(first, c.unclaimed);
        // A module may stay enabled on a refused line; the pipeline never
        // executes it because a word is unclaimed. Two never are.
        Enabled();
    }
}

// With no SMI answered (every status stays "not handled"), each command ends
// with its own code; the last request in the block shows how far it went.
TEST_F(CommandLine, FirmwareThatHandlesNothing)
{
    struct Case {
        std::vector<std::string> words;
        int code;
        std::string output;
        uint16_t lastClass;
        uint32_t lastInput0;
    } cases[] = {
        // The gate's boot-mode read is not handled: 224.
        {{"/gbo"}, 224, "", 0, 0x8007},
        {{"/sfbo", "USB HDD"}, 224, "", 0, 0x8007},
        {{"/gbop"}, 224, "", 0, 0x8007},
        {{"/abop", "a", "\\b"}, 224, "", 0, 0x8007},
        {{"/dbop", "a"}, 224, "", 0, 0x8007},
        {{"/sfbop", "a"}, 224, "", 0, 0x8007},
        {{"/ssb", "on"}, 224, "", 0, 0x8007},
        {{"/gsb"}, 224, "", 0, 0x8007},
        {{"/GetMode"}, 223, "", 0, 0x8007},
        {{"/SetMode", "legacy"}, 225, "", 1, 0x8007},
        {{"/SetMode", "uefi"}, 225, "", 1, 0x8008},
        // Refused before the gate: no request at all.
        {{"/abop", "a", "EFI\\b"}, 1, "Missing \"\\\" Before Boot Loader\n", 0xEEEE, 0xEEEEEEEE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0]);
        ASSERT_EQ(Parse(c.words), 0u);
        QX3_QUEUE_ITEM* module = Enabled();
        ASSERT_NE(module, nullptr);
        memset(gpIntrBuf, 0xEE, sizeof(SMI_CMD_BUFFER));
        testing::internal::CaptureStdout();
        int code = module->ExecutionAction(m_Modules);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
        EXPECT_EQ(code, c.code);
        SMI_CMD_BUFFER* block = (SMI_CMD_BUFFER*)gpIntrBuf;
        EXPECT_EQ(block->Class, c.lastClass);
        EXPECT_EQ(block->Input[0], c.lastInput0);
    }
}

// The Register<Name>QueueItem slots in what nm prints for a file of the
// build, by name, with the unit (archive member) that defines each; and every
// symbol it names.
struct BuildSymbols {
    std::map<std::string, std::string> slots; // name -> unit
    std::set<std::string> all;
};

BuildSymbols ReadSymbols(const std::string& command)
{
    BuildSymbols found;
    FILE* nm = popen(command.c_str(), "r");
    if (nm == nullptr)
        return found;
    char line[512];
    while (fgets(line, sizeof(line), nm) != nullptr) {
        std::string text(line);
        std::string symbol = text.substr(text.find_last_of(' ') + 1);
        symbol.erase(symbol.find_last_not_of("\n") + 1);
        found.all.insert(symbol);
        const std::string head = "Register", tail = "QueueItem";
        if (symbol.size() <= head.size() + tail.size() || symbol.compare(0, head.size(), head) != 0 ||
            symbol.compare(symbol.size() - tail.size(), tail.size(), tail) != 0)
            continue;
        // "-A" lines start "<archive>:<member>:"; the member is "<unit>.cpp.o".
        std::string unit;
        size_t member = text.find(".a:");
        if (member != std::string::npos)
            unit = text.substr(member + 3, text.find(".cpp.o:", member) - member - 3);
        found.slots[symbol.substr(head.size(), symbol.size() - head.size() - tail.size())] = unit;
    }
    pclose(nm);
    return found;
}

std::string ReadSource(const std::string& path)
{
    std::ifstream in(std::string(ZORVIK_SOURCE_DIR) + "/" + path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Taken from the build itself: every module unit's registration slot is in the
// pipeline's chain and registers one module of its own id; every command unit
// (bootcfg/, GetTypeDA's buffer set-up aside) is completed by bash, documented
// in ZORVIK(8) and has its place in the boot-mode gate (a command flag it
// raises) unless it runs in either mode.
TEST(Registration, EveryUnitIsRegisteredCompletedAndDocumented)
{
    BuildSymbols units = ReadSymbols("nm -A --defined-only " ZORVIK_CORE_LIBRARY);
    BuildSymbols chain = ReadSymbols("nm --undefined-only " ZORVIK_PIPELINE_OBJECT);
    ASSERT_GT(units.slots.size(), 10u);
    for (const auto& slot : units.slots)
        EXPECT_EQ(chain.slots.count(slot.first), 1u) << "Register" << slot.first << "QueueItem is not in the chain";

    ASSERT_EQ(RegisterAllModules(), 0);
    EXPECT_EQ(QueueItemList.size(), units.slots.size());
    std::set<ENUM_MODULE_ID> ids;
    for (unsigned int i = 0; i < QueueItemList.size(); i++)
        EXPECT_TRUE(ids.insert(QueueItemList[i]->ModuleId).second) << "ModuleId " << QueueItemList[i]->ModuleId;
    QueueItemList.clear();

    // The completion's command words: its words="..." list.
    std::string completion = ReadSource("completion/ZORVIK");
    size_t list = completion.find("words=\"");
    ASSERT_NE(list, std::string::npos);
    std::istringstream listed(completion.substr(list + 7, completion.find('"', list + 7) - list - 7));
    std::set<std::string> completed{std::istream_iterator<std::string>(listed), std::istream_iterator<std::string>()};
    const std::string manual = ReadSource("man/ZORVIK.8.scd");
    const std::set<std::string> eitherMode = {"GetMode", "SetMode"};
    for (const auto& slot : units.slots) {
        const std::string& name = slot.first;
        if (name == "GetTypeDA" || !std::ifstream(std::string(ZORVIK_SOURCE_DIR) + "/bootcfg/" + slot.second + ".cpp"))
            continue;
        EXPECT_EQ(completed.count(name), 1u) << name << ": not in completion/ZORVIK";
        EXPECT_NE(manual.find("*/" + name + "*"), std::string::npos) << name << ": not in ZORVIK(8)";
        EXPECT_TRUE(units.all.count(name + "Flag") == 1 || eitherMode.count(name) == 1)
            << name << ": neither gated by a command flag nor run in either mode";
    }
}

} // namespace

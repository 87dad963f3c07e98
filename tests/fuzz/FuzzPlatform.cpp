#include "FuzzPlatform.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "bootcfg/flashvar.h"
#include "firmware/acpihelperlnx.h"
#include "firmware/oshook.h"
#include "framework/Main.h"
#include "platform/platformlnx.h"

namespace fuzz {

namespace {

struct Reader {
    const uint8_t* p;
    size_t left;

    bool Take(void* out, size_t n)
    {
        if (left < n)
            return false;
        std::memcpy(out, p, n);
        p += n;
        left -= n;
        return true;
    }
    std::vector<uint8_t> Bytes(size_t n)
    {
        n = n < left ? n : left;
        std::vector<uint8_t> b(p, p + n);
        p += n;
        left -= n;
        return b;
    }
};

template <typename T> void Put(std::vector<uint8_t>& out, T value)
{
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), b, b + sizeof(T));
}

// Where a module stands in the registration table; the command modules lie
// between GetTypeDA and the usage foot.
unsigned ModuleIndex(ENUM_MODULE_ID id)
{
    for (unsigned i = 0; i < QueueItemList.size(); i++) {
        if (QueueItemList[i]->ModuleId == id)
            return i;
    }
    std::abort();
}

} // namespace

Input Input::Parse(const uint8_t* data, size_t size)
{
    Input in;
    Reader r{data, size};
    uint8_t kind = 0;
    while (r.Take(&kind, 1)) {
        if (kind == 0) {
            Answer a;
            uint16_t length = 0;
            r.Take(&a.offset, 2);
            r.Take(&length, 2);
            a.bytes = r.Bytes(length);
            in.answers.push_back(std::move(a));
        } else if (kind == 1) {
            Chunk c;
            uint16_t length = 0;
            r.Take(&c.address, 4);
            r.Take(&length, 2);
            c.bytes = r.Bytes(length);
            in.chunks.push_back(std::move(c));
        } else if (kind == 2) {
            uint16_t length = 0;
            r.Take(&length, 2);
            std::vector<uint8_t> b = r.Bytes(length);
            in.words.emplace_back(b.begin(), b.end());
        }
    }
    return in;
}

std::vector<uint8_t> Input::Serialize() const
{
    std::vector<uint8_t> out;
    for (const Chunk& c : chunks) {
        out.push_back(1);
        Put<uint32_t>(out, c.address);
        Put<uint16_t>(out, uint16_t(c.bytes.size()));
        out.insert(out.end(), c.bytes.begin(), c.bytes.end());
    }
    for (const Answer& a : answers) {
        out.push_back(0);
        Put<uint16_t>(out, a.offset);
        Put<uint16_t>(out, uint16_t(a.bytes.size()));
        out.insert(out.end(), a.bytes.begin(), a.bytes.end());
    }
    for (const std::string& w : words) {
        out.push_back(2);
        Put<uint16_t>(out, uint16_t(w.size()));
        out.insert(out.end(), w.begin(), w.end());
    }
    return out;
}

Platform::Platform(bool blankFirmwareAreas, const std::string& platformFile)
{
    // The program's console output is not looked at, and the paging prompt
    // must not wait for a key.
    if (freopen("/dev/null", "w", stdout) == nullptr || freopen("/dev/null", "r", stdin) == nullptr)
        std::abort();
    std::ifstream in(platformFile.empty() ? FUZZ_PLATFORMS_DIR "/legacy-desktop.json" : platformFile);
    nlohmann::json platform = nlohmann::json::parse(in);
    if (platformFile.empty())
        platform["memory_size"] = "0x40000000";
    char dir[] = "/tmp/zorvik-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        std::abort();
    const std::string memory = std::string(dir) + "/memory";
    firmware_ = std::make_unique<testsupport::InProcessFirmware>(platform, memory);
    rmdir(dir);

    static char program[] = "ZORVIK";
    static char* argv[] = {program, nullptr};
    InitializeLibs();
    InitializeGlobalVariables();
    PutArgvIntoList(ArgvItemList, 1, argv);
    if (PlatformInitialize(ArgvItemList) != 0 || InitializeModules() != 0)
        std::abort();
    typeDA_ = ModuleIndex(MODULE_ID_GET_TYPE_DA);
    usageFoot_ = ModuleIndex(MODULE_ID_USAGE_FOOT);
    for (unsigned i = 0; i < QueueItemList.size(); i++)
        initialEnable_.push_back(QueueItemList[i]->bEnable);

    if (blankFirmwareAreas) {
        fwemu::PhysicalMemory& m = firmware_->Memory();
        m.view(ACPI_RSDP_AREA_PHYS, ACPI_RSDP_AREA_SIZE).fill(0, ACPI_RSDP_AREA_SIZE, 0);
        m.view(m.size() - 0x100000, 0x100000).fill(0, 0x100000, 0);
    }
    firmware_->SetAnswer([this](const fwemu::PortWrite&, fwemu::ByteView buffer, fwemu::PortWriteOutcome& outcome) {
        outcome.smi = true;
        if (nextAnswer_ < answers_.size() && buffer.size() != 0) {
            const Answer& a = answers_[nextAnswer_++];
            if (a.offset < buffer.size()) {
                const size_t n = std::min(a.bytes.size(), buffer.size() - a.offset);
                buffer.setBytes(a.offset, a.bytes.data(), n);
            }
        }
        answered_.emplace_back(buffer.data(), buffer.data() + std::min<size_t>(buffer.size(), 36));
        return true;
    });
}

void Platform::Begin(const Input& input)
{
    fwemu::PhysicalMemory& m = firmware_->Memory();
    saved_.clear();
    for (const Chunk& c : input.chunks) {
        if (c.bytes.empty() || !m.contains(c.address, c.bytes.size()))
            continue;
        fwemu::ByteView v = m.view(c.address, c.bytes.size());
        saved_.push_back({c.address, std::vector<uint8_t>(v.data(), v.data() + v.size())});
        v.setBytes(0, c.bytes.data(), c.bytes.size());
    }
    answers_ = input.answers;
    nextAnswer_ = 0;
    answered_.clear();
}

void Platform::Finish()
{
    fwemu::PhysicalMemory& m = firmware_->Memory();
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
        m.view(it->address, it->bytes.size()).setBytes(0, it->bytes.data(), it->bytes.size());
    saved_.clear();
    answers_.clear();
    nextAnswer_ = 0;
}

bool Platform::ParseLine(const std::vector<std::string>& words)
{
    CleanUpArgvList();
    for (unsigned i = 0; i < QueueItemList.size(); i++) {
        QueueItemList[i]->bEnable = initialEnable_[i];
        QueueItemList[i]->bStopParsing = false;
    }
    GetBootOrderFlag = SetFirstBootOrderFlag = GetBootOptionFlag = AddBootOptionFlag = DelBootOptionFlag =
        SetFirstBootOptionFlag = SetSecureBootFlag = false;
    g_LastErrorCode = 0;

    lineWords_ = {"ZORVIK"};
    lineWords_.insert(lineWords_.end(), words.begin(), words.end());
    for (std::string& w : lineWords_) {
        QX3_ARGV_ITEM* item = new QX3_ARGV_ITEM;
        item->text = w.data();
        item->consumed = false;
        ArgvItemList.push_back(item);
    }
    ParseUserInput();
    if (g_LastErrorCode != 0 || ArgvItemList.size() == 1)
        return false;
    for (unsigned i = 1; i < ArgvItemList.size(); i++) {
        if (!ArgvItemList[i]->consumed)
            return false;
    }
    return true;
}

int Platform::ExecuteCommands()
{
    for (unsigned i = typeDA_; i < QueueItemList.size(); i++) {
        QX3_QUEUE_ITEM* module = QueueItemList[i];
        if (module->ExecutionAction == nullptr || !module->bEnable)
            continue;
        int result = module->ExecutionAction(QueueItemList);
        if (result != 0)
            return result;
    }
    return 0;
}

unsigned Platform::EnabledCommands() const
{
    unsigned n = 0;
    for (unsigned i = typeDA_ + 1; i < usageFoot_; i++)
        n += QueueItemList[i]->bEnable ? 1 : 0;
    return n;
}

} // namespace fuzz

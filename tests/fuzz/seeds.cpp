// Writes the seed corpora of the fuzzers (tests/fuzz/corpus/<fuzzer>/) from
// the example platforms: each platform's firmware areas as chunk records,
// and the firmware model's answers to the requests of each fuzzer's runs as
// answer records. Run by scripts/fuzz.sh --seeds; the output is committed.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "FuzzPlatform.h"
#include "bootcfg/flashvar.h"
#include "framework/Main.h"
#include "firmware/acpihelperlnx.h"
#include "scripts/TrailerBlock.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& dir, const std::string& name, const std::vector<uint8_t>& bytes)
{
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Non-zero runs of [from, to) (gaps under 32 bytes bridged), as chunks.
void AddChunks(fuzz::Input& in, fwemu::PhysicalMemory& m, uint64_t from, uint64_t to)
{
    const uint8_t* p = m.view(from, to - from).data();
    uint64_t i = 0;
    const uint64_t n = to - from;
    while (i < n) {
        if (p[i] == 0) {
            i++;
            continue;
        }
        uint64_t end = i;
        uint64_t zeros = 0;
        for (uint64_t k = i; k < n && zeros < 32 && k - i < 0xFFFF; k++) {
            zeros = p[k] == 0 ? zeros + 1 : 0;
            if (p[k] != 0)
                end = k + 1;
        }
        fuzz::Chunk c;
        c.address = uint32_t(from + i);
        c.bytes.assign(p + i, p + end);
        in.chunks.push_back(std::move(c));
        i = end;
    }
}

// Runs `body` on the platform in a child, with every answer of the firmware
// model recorded as the span of the shared buffer it changed.
void Recorded(const std::string& platformFile, const std::function<void(fuzz::Platform&, fuzz::Input&)>& body)
{
    pid_t pid = fork();
    if (pid == 0) {
        fuzz::Platform platform(false, platformFile);
        fuzz::Input input;
        testsupport::InProcessFirmware& fw = platform.Firmware();
        fw.SetAnswer([&](const fwemu::PortWrite& write, fwemu::ByteView buffer, fwemu::PortWriteOutcome& outcome) {
            std::vector<uint8_t> before(buffer.data(), buffer.data() + buffer.size());
            outcome = fw.Model().portWrite(write);
            size_t first = buffer.size();
            size_t last = 0;
            for (size_t i = 0; i < buffer.size(); i++) {
                if (buffer.data()[i] != before[i]) {
                    first = std::min(first, i);
                    last = i + 1;
                }
            }
            fuzz::Answer a;
            if (first < last) {
                a.offset = uint16_t(first);
                a.bytes.assign(buffer.data() + first, buffer.data() + last);
            }
            input.answers.push_back(std::move(a));
            return true;
        });
        body(platform, input);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds CORPUS_DIR\n");
        return 2;
    }
    const fs::path out = argv[1];
    for (const auto& entry : fs::directory_iterator(FUZZ_PLATFORMS_DIR)) {
        const std::string file = entry.path().string();
        const std::string name = entry.path().stem().string();
        // In-process, only a firmware memory hole provides the shared buffer.
        std::ifstream platformFile(file);
        if (nlohmann::json::parse(platformFile).value("memory_hole", nlohmann::json()).is_null())
            continue;

        Recorded(file, [&](fuzz::Platform& p, fuzz::Input& in) {
            fwemu::PhysicalMemory& m = p.Firmware().Memory();
            AddChunks(in, m, ACPI_RSDP_AREA_PHYS, ACPI_RSDP_AREA_PHYS + ACPI_RSDP_AREA_SIZE);
            AddChunks(in, m, m.size() - 0x100000, m.size());
            in.answers.clear();
            Write(out / "acpi", name, in.Serialize());
        });
        Recorded(file, [&](fuzz::Platform&, fuzz::Input& in) {
            for (unsigned i = 0; i < 2; i++) {
                if (QueueItemList[i]->ExecutionAction(QueueItemList) != 0)
                    break;
            }
            if (CleanFlashIfcHook != nullptr)
                CleanFlashIfcHook();
            Write(out / "flash", name, in.Serialize());
        });
        Recorded(file, [&](fuzz::Platform& p, fuzz::Input& in) {
            const nlohmann::json platform = p.Firmware().Model().platform().toJson();
            std::string device = "CD-ROM";
            if (platform.contains("boot") && !platform["boot"]["bbs"]["devices"].empty())
                device = platform["boot"]["bbs"]["devices"].back().value("name", device);
            if (p.ParseLine({"/GetBootOrder"}))
                p.ExecuteCommands();
            if (p.ParseLine({"/SetFirstBootOrder", device}))
                p.ExecuteCommands();
            in.words = {device};
            AddChunks(in, p.Firmware().Memory(), 0, ACPI_RSDP_AREA_PHYS);
            Write(out / "bbs", name, in.Serialize());
        });
        Recorded(file, [&](fuzz::Platform& p, fuzz::Input& in) {
            const nlohmann::json platform = p.Firmware().Model().platform().toJson();
            std::string label = "Recovery";
            std::string loader = "\\EFI\\recovery.efi";
            if (platform.contains("boot") && !platform["boot"]["boot_options"].empty()) {
                label = platform["boot"]["boot_options"][0].value("label", label);
                loader = platform["boot"]["boot_options"][0].value("loader", loader);
            }
            for (const std::vector<std::string>& line :
                 std::vector<std::vector<std::string>>{{"/GetBootOption"},
                                                       {"/AddBootOption", label, loader},
                                                       {"/DelBootOption", label},
                                                       {"/SetFirstBootOption", label}}) {
                if (p.ParseLine(line))
                    p.ExecuteCommands();
            }
            in.words = {label, loader};
            Write(out / "bootoption", name, in.Serialize());
        });
    }

    // Command lines: every command in its accepted form, and near misses.
    using namespace std::string_literals;
    const std::vector<std::string> lines = {
        "/GetBootOrder"s,
        "-gbo"s,
        "/SetFirstBootOrder\0CD-ROM"s,
        "/sfbo"s,
        "/GetBootOption"s,
        "/GBOP"s,
        "/AddBootOption\0Recovery\0\\EFI\\recovery.efi"s,
        "/abop\0x"s,
        "/DelBootOption\0debian"s,
        "/SetFirstBootOption\0debian"s,
        "/GetMode"s,
        "/SetMode\0uefi"s,
        "/sm\0legacy"s,
        "/SetSecureBoot\0on"s,
        "/ssb\0off"s,
        "/GSB"s,
        "/SSBOFF"s,
        "/gbo\0/gm"s,
        "/NoSuchCommand"s,
        ""s,
    };
    for (size_t i = 0; i < lines.size(); i++)
        Write(out / "commandline", "line" + std::to_string(i), std::vector<uint8_t>(lines[i].begin(), lines[i].end()));

    // The program file: the trailer after some code bytes, alone, twice.
    const std::vector<uint8_t> block = TrailerBlock();
    std::vector<uint8_t> program(64, 0x90);
    program.insert(program.end(), block.begin(), block.end());
    Write(out / "trailer", "program", program);
    Write(out / "trailer", "block-only", block);
    std::vector<uint8_t> twice = program;
    twice.insert(twice.end(), block.begin(), block.end());
    Write(out / "trailer", "two-blocks", twice);

    // tessvin: selector byte (bits 0-1: 0 GUID, 1 value, 2 record, 3 record
    // and value; bits 2-3: the type; bit 4: -k), then the text, the record,
    // or the record and the value's text.
    auto text = [](uint8_t selector, const std::string& s) {
        std::vector<uint8_t> b = {selector};
        b.insert(b.end(), s.begin(), s.end());
        return b;
    };
    Write(out / "tessvin", "guid", text(0, "8be4df61-93ca-11d2-aa0d-00e098032b8c"));
    Write(out / "tessvin", "int", text(1, "0x1234"));
    Write(out / "tessvin", "int16-keep", text(1 | 1 << 2 | 16, "65535"));
    Write(out / "tessvin", "string", text(1 | 2 << 2, "hello"));
    std::vector<uint8_t> record(1 + 2084, 0);
    record[0] = 2 | 2 << 2;
    const char name[] = {'B', 0, 'o', 0, 'o', 0, 't', 0};
    std::memcpy(record.data() + 1, name, sizeof(name));
    record[1 + 1040] = 4; // DataSize
    std::memcpy(record.data() + 1 + 1048, "abc", 4);
    Write(out / "tessvin", "record", record);
    std::vector<uint8_t> keep = record;
    keep[0] = 3 | 16; // int, -k
    keep.insert(keep.end(), {'0', 'x', '1', '2'});
    Write(out / "tessvin", "record-value-keep", keep);
    std::vector<uint8_t> resize = record;
    resize[0] = 3 | 2 << 2; // string
    resize.insert(resize.end(), {'h', 'e', 'l', 'l', 'o'});
    Write(out / "tessvin", "record-value", resize);
    return 0;
}

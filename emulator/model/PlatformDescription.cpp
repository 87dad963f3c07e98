#include "PlatformDescription.h"

#include <algorithm>
#include <fstream>

#include "FieldReader.h"

namespace fwemu {

using nlohmann::json;

namespace {

AcpiDescription parseAcpi(const json& j)
{
    FieldReader r(j, "acpi");
    AcpiDescription a;
    a.fadtSmiCmd = uint16_t(r.number("fadt_smi_cmd", 0xFFFF, a.fadtSmiCmd));
    a.fadtLength = uint32_t(r.number("fadt_length", 0x1000, a.fadtLength));
    if (a.fadtLength < 52)
        r.fail("fadt_length", "must be at least 52 (the FADT must reach SMI_CMD)");
    a.xsdt = r.boolean("xsdt", a.xsdt);
    a.fadtInRsdt = r.boolean("fadt_in_rsdt", a.fadtInRsdt);
    a.fadtInXsdt = r.boolean("fadt_in_xsdt", a.xsdt);
    if (a.fadtInXsdt && !a.xsdt)
        r.fail("fadt_in_xsdt", "needs \"xsdt\": true");
    a.otherTables = unsigned(r.number("other_tables", 200, a.otherTables));
    a.rsdpChecksumOk = r.boolean("rsdp_checksum_ok", a.rsdpChecksumOk);
    if (!r.isNull("stale_rsdp_smi_cmd") && r.find("stale_rsdp_smi_cmd") != nullptr)
        a.staleRsdpSmiCmd = uint16_t(r.number("stale_rsdp_smi_cmd", 0xFFFF, 0));
    r.finish();
    return a;
}

AsfDescription parseAsf(const json& j, const std::string& path)
{
    FieldReader r(j, path);
    AsfDescription a;
    a.offset = uint16_t(r.number("offset", 0xFFFF, a.offset));
    a.dataDistance = uint8_t(r.number("data_distance", 0xFF, a.dataDistance));
    a.port = uint16_t(r.number("port", 0xFFFF, a.port));
    if (a.dataDistance < 14)
        r.fail("data_distance", "must be at least 14 (the data area follows the 14-byte head)");
    if (size_t(a.offset) + a.dataDistance + 4 > PlatformDescription::kBiosAreaSize)
        r.fail("offset", "the structure and its data area must lie inside the 64 KiB BIOS area");
    r.finish();
    return a;
}

FlashInfoAnswer parseFlashInfo(const json& j)
{
    FieldReader r(j, "flash.info");
    FlashInfoAnswer f;
    f.version = uint8_t(r.number("version", 0xFF, f.version));
    f.status = uint8_t(r.number("status", 0xFF, f.status));
    if (const json* blocks = r.find("blocks")) {
        if (!blocks->is_array())
            r.fail("blocks", "must be a list");
        for (size_t i = 0; i < blocks->size(); ++i) {
            FieldReader b((*blocks)[i], "flash.info.blocks[" + std::to_string(i) + "]");
            FlashBlock block;
            block.start = uint32_t(b.number("start", 0xFFFFFFFF, 0));
            block.size = uint32_t(b.number("size", 0xFFFFFFFF, 0));
            block.type = uint8_t(b.number("type", 0xFF, 0));
            b.finish();
            f.blocks.push_back(block);
        }
    }
    r.finish();
    return f;
}

FlashDescription parseFlash(const json& j)
{
    FieldReader r(j, "flash");
    FlashDescription f;
    if (r.isNull("open_status"))
        f.openStatus.reset();
    else
        f.openStatus = uint8_t(r.number("open_status", 0xFF, 0));
    if (const json* info = r.find("info"); info != nullptr && !info->is_null())
        f.info = parseFlashInfo(*info);
    if (const json* fps = r.find("fps"); fps != nullptr && !fps->is_null()) {
        FieldReader p(*fps, "flash.fps");
        FpsRecord rec;
        rec.name = p.text("name", "");
        rec.offset = uint16_t(p.number("offset", 0xFFFF, rec.offset));
        if (size_t(rec.offset) + 8 + rec.name.size() > PlatformDescription::kSmiBufferSize)
            p.fail("name", "the record must fit in the 64 KiB SMI buffer");
        p.finish();
        f.fps = rec;
    }
    if (const json* bpt = r.find("bpt"); bpt != nullptr && !bpt->is_null()) {
        FieldReader p(*bpt, "flash.bpt");
        BptRecord rec;
        rec.length = uint8_t(p.number("length", 0xFF, 0));
        rec.mark = p.boolean("mark", false);
        rec.offset = uint16_t(p.number("offset", 0xFFFF, rec.offset));
        if (size_t(rec.offset) + 6 > PlatformDescription::kSmiBufferSize)
            p.fail("offset", "the record must fit in the 64 KiB SMI buffer");
        p.finish();
        f.bpt = rec;
    }
    r.finish();
    return f;
}

DoreDescription parseDore(const json& j)
{
    FieldReader r(j, "dore");
    DoreDescription d;
    d.present = r.boolean("present", d.present);
    d.version = uint16_t(r.number("version", 0xFFFF, d.version));
    d.error = r.boolean("error", d.error);
    r.finish();
    return d;
}

SecureFlashDescription parseSecureFlash(const json& j)
{
    FieldReader r(j, "secure_flash");
    SecureFlashDescription s;
    s.delivered = r.boolean("delivered", s.delivered);
    s.policy = uint16_t(r.number("policy", 0xFFFF, s.policy));
    if (const json* m = r.find("message"); m != nullptr && !m->is_null())
        s.message = r.text("message", "");
    s.messageOffset = uint16_t(r.number("message_offset", 0xFFFF, s.messageOffset));
    // The request and its answer area occupy [0, 287).
    if (s.messageOffset < 287)
        r.fail("message_offset", "must be at least 287 (behind the request and its answer area)");
    if (s.message && size_t(s.messageOffset) + s.message->size() > PlatformDescription::kSmiBufferSize)
        r.fail("message", "the text must fit in the 64 KiB SMI buffer");
    r.finish();
    return s;
}

struct Region {
    uint64_t begin, end;
    std::string what;
};

void checkDisjoint(std::vector<Region> regions, const std::string& context)
{
    std::sort(regions.begin(), regions.end(), [](const Region& a, const Region& b) { return a.begin < b.begin; });
    for (size_t i = 1; i < regions.size(); ++i)
        if (regions[i].begin < regions[i - 1].end)
            throw PlatformError(context + ": " + regions[i - 1].what + " and " + regions[i].what + " overlap");
}

RunLockDescription parseRunLock(const json& j)
{
    FieldReader r(j, "run_lock");
    RunLockDescription l;
    l.directory = r.boolean("directory", l.directory);
    if (const json* v = r.find("holder"); v != nullptr && !v->is_null()) {
        if (!l.directory)
            r.fail("holder", "needs \"directory\": true");
        FieldReader h(*v, "run_lock.holder");
        RunLockHolder holder;
        holder.pid = uint32_t(h.integer("pid", 1, 0x7FFFFFFF, holder.pid));
        if (!h.isNull("release_after_ms") && h.find("release_after_ms") != nullptr)
            holder.releaseAfterMs = uint32_t(h.number("release_after_ms", 600000, 0));
        h.finish();
        l.holder = holder;
    }
    r.finish();
    return l;
}

} // namespace

std::vector<uint16_t> PlatformDescription::effectiveSmiPorts() const
{
    if (smiPorts)
        return *smiPorts;
    std::vector<uint16_t> ports;
    auto add = [&ports](uint16_t p) {
        if (std::find(ports.begin(), ports.end(), p) == ports.end())
            ports.push_back(p);
    };
    if (acpi)
        add(acpi->fadtSmiCmd);
    for (const auto& a : asf)
        add(a.port);
    add(0xB2);
    return ports;
}

PlatformDescription::MemoryType PlatformDescription::memoryType(uint64_t address) const
{
    const uint64_t page = 0x1000;
    if (address >= memorySize)
        return MemoryType::None;
    if (address < 0xA0000)
        return MemoryType::Ram;
    if (address < 0x100000)
        return MemoryType::Reserved;
    if (memoryHole && address >= (*memoryHole & ~(page - 1)) && address < *memoryHole + kSmiBufferSize)
        return MemoryType::Reserved;
    if (acpi && address >= acpiArea())
        return MemoryType::Acpi;
    return MemoryType::Ram;
}

void PlatformDescription::validate() const
{
    if (memorySize < 0x1000000 || memorySize > 0x100000000ULL || memorySize % 0x1000 != 0)
        throw PlatformError("memory_size: must be a multiple of 4 KiB from 16 MiB to 4 GiB");
    if (memoryHole) {
        uint64_t h = *memoryHole;
        if (h < 0x100000 || h + kSmiBufferSize > acpiArea())
            throw PlatformError(
                "memory_hole: the 64 KiB hole must lie between 1 MiB and the ACPI tables "
                "in the top MiB of memory");
    }
    // The BIOS area holds the RSDP and every "$ASF" structure.
    std::vector<Region> bios;
    if (acpi)
        bios.push_back({kRsdpAddress - kBiosArea, kRsdpAddress - kBiosArea + 36, "the RSDP"});
    for (size_t i = 0; i < asf.size(); ++i)
        bios.push_back({asf[i].offset, asf[i].offset + std::max<uint64_t>(14, asf[i].dataDistance + 4u),
                        "asf[" + std::to_string(i) + "]"});
    checkDisjoint(bios, "asf");
    // The flash-information answer and the records the firmware leaves with it.
    std::vector<Region> buffer;
    if (flash.info) {
        uint64_t head = flash.info->version > 10 ? 16 : 8;
        buffer.push_back({0, head + 9 * flash.info->blocks.size(), "flash.info"});
    }
    if (flash.fps)
        buffer.push_back({flash.fps->offset, flash.fps->offset + 8 + flash.fps->name.size(), "flash.fps"});
    if (flash.bpt)
        buffer.push_back({flash.bpt->offset, flash.bpt->offset + 6u, "flash.bpt"});
    for (const auto& r : buffer)
        if (r.end > kSmiBufferSize)
            throw PlatformError(r.what + ": must fit in the 64 KiB SMI buffer");
    checkDisjoint(buffer, "flash");
}

PlatformDescription PlatformDescription::fromJson(const json& j)
{
    FieldReader r(j, "");
    PlatformDescription p;
    p.description = r.text("description", "");
    p.memorySize = r.number("memory_size", 0x100000000ULL, p.memorySize);
    if (!r.isNull("memory_hole") && r.find("memory_hole") != nullptr)
        p.memoryHole = uint32_t(r.number("memory_hole", 0xFFFFFFFF, 0));
    if (const json* ports = r.find("smi_ports"); ports != nullptr && !ports->is_null()) {
        if (!ports->is_array())
            r.fail("smi_ports", "must be a list of ports or null");
        p.smiPorts.emplace();
        for (const auto& port : *ports)
            p.smiPorts->push_back(uint16_t(r.toNumber(port, "smi_ports", 0xFFFF)));
    }
    if (const json* acpi = r.find("acpi"); acpi != nullptr)
        p.acpi = acpi->is_null() ? std::nullopt : std::optional<AcpiDescription>(parseAcpi(*acpi));
    if (const json* asf = r.find("asf"); asf != nullptr && !asf->is_null()) {
        if (!asf->is_array())
            r.fail("asf", "must be a list");
        for (size_t i = 0; i < asf->size(); ++i)
            p.asf.push_back(parseAsf((*asf)[i], "asf[" + std::to_string(i) + "]"));
    }
    if (const json* v = r.find("flash"))
        p.flash = parseFlash(*v);
    if (const json* v = r.find("dore"))
        p.dore = parseDore(*v);
    if (const json* v = r.find("secure_flash"))
        p.secureFlash = parseSecureFlash(*v);
    p.nmiWatchdog = r.boolean("nmi_watchdog", p.nmiWatchdog);
    if (!r.isNull("lockdown") && r.find("lockdown") != nullptr) {
        p.lockdown = r.text("lockdown", "none");
        if (*p.lockdown != "none" && *p.lockdown != "integrity" && *p.lockdown != "confidentiality")
            r.fail("lockdown", "must be \"none\", \"integrity\", \"confidentiality\" or null");
    }
    if (const json* v = r.find("run_lock"))
        p.runLock = parseRunLock(*v);
    if (const json* v = r.find("boot"); v != nullptr && !v->is_null())
        p.boot = BootConfigDescription::fromJson(*v);
    if (const json* v = r.find("kernel"); v != nullptr && !v->is_null())
        p.kernel = KernelDescription::fromJson(*v);
    r.finish();
    p.validate();
    return p;
}

json PlatformDescription::toJson() const
{
    json j = json::object();
    j["description"] = description;
    j["memory_size"] = hexText(memorySize, 8);
    j["memory_hole"] = memoryHole ? json(hexText(*memoryHole, 8)) : json(nullptr);
    if (smiPorts) {
        json ports = json::array();
        for (uint16_t port : *smiPorts)
            ports.push_back(hexText(port, 2));
        j["smi_ports"] = ports;
    } else {
        j["smi_ports"] = nullptr;
    }
    if (acpi) {
        j["acpi"] = {
            {"fadt_smi_cmd", hexText(acpi->fadtSmiCmd, 2)},
            {"fadt_length", acpi->fadtLength},
            {"xsdt", acpi->xsdt},
            {"fadt_in_rsdt", acpi->fadtInRsdt},
            {"fadt_in_xsdt", acpi->fadtInXsdt},
            {"other_tables", acpi->otherTables},
            {"rsdp_checksum_ok", acpi->rsdpChecksumOk},
            {"stale_rsdp_smi_cmd", acpi->staleRsdpSmiCmd ? json(hexText(*acpi->staleRsdpSmiCmd, 2)) : json(nullptr)},
        };
    } else {
        j["acpi"] = nullptr;
    }
    j["asf"] = json::array();
    for (const auto& a : asf)
        j["asf"].push_back(
            {{"offset", hexText(a.offset, 4)}, {"data_distance", a.dataDistance}, {"port", hexText(a.port, 2)}});
    json flashJson;
    flashJson["open_status"] = flash.openStatus ? json(*flash.openStatus) : json(nullptr);
    if (flash.info) {
        json blocks = json::array();
        for (const auto& b : flash.info->blocks)
            blocks.push_back({{"start", hexText(b.start, 8)}, {"size", hexText(b.size, 8)}, {"type", b.type}});
        flashJson["info"] = {{"version", flash.info->version}, {"status", flash.info->status}, {"blocks", blocks}};
    } else {
        flashJson["info"] = nullptr;
    }
    flashJson["fps"] =
        flash.fps ? json{{"name", flash.fps->name}, {"offset", hexText(flash.fps->offset, 4)}} : json(nullptr);
    flashJson["bpt"] =
        flash.bpt
            ? json{{"length", flash.bpt->length}, {"mark", flash.bpt->mark}, {"offset", hexText(flash.bpt->offset, 4)}}
            : json(nullptr);
    j["flash"] = flashJson;
    j["dore"] = {{"present", dore.present}, {"version", hexText(dore.version, 3)}, {"error", dore.error}};
    j["secure_flash"] = {
        {"delivered", secureFlash.delivered},
        {"policy", hexText(secureFlash.policy, 4)},
        {"message", secureFlash.message ? json(*secureFlash.message) : json(nullptr)},
        {"message_offset", hexText(secureFlash.messageOffset, 4)},
    };
    j["nmi_watchdog"] = nmiWatchdog;
    j["lockdown"] = lockdown ? json(*lockdown) : json(nullptr);
    j["run_lock"] = {{"directory", runLock.directory}, {"holder", nullptr}};
    if (runLock.holder)
        j["run_lock"]["holder"] = {{"pid", runLock.holder->pid},
                                   {"release_after_ms", runLock.holder->releaseAfterMs
                                                            ? json(*runLock.holder->releaseAfterMs)
                                                            : json(nullptr)}};
    if (boot)
        j["boot"] = boot->toJson();
    if (kernel)
        j["kernel"] = kernel->toJson();
    return j;
}

PlatformDescription PlatformDescription::load(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw PlatformError("cannot read platform file " + path);
    json j;
    try {
        in >> j;
    } catch (const json::parse_error& e) {
        throw PlatformError(path + ": not valid JSON: " + e.what());
    }
    try {
        return fromJson(j);
    } catch (const PlatformError& e) {
        throw PlatformError(path + ": " + e.what());
    }
}

void PlatformDescription::save(const std::string& path) const
{
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << toJson().dump(2) << '\n';
        out.flush();
        if (!out)
            throw PlatformError("cannot write platform file " + temp);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        throw PlatformError("cannot write platform file " + path);
    }
}

} // namespace fwemu

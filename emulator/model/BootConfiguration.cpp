#include "BootConfiguration.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <set>

#include "CallingInterface.h"
#include "FieldReader.h"
#include "PlatformDescription.h"

namespace fwemu {

using nlohmann::json;

namespace {

constexpr uint32_t kBootMode = 0x8007;
constexpr uint32_t kUefiMode = 0x8008;
constexpr uint32_t kSecureBoot = 0x8009;
constexpr size_t kIplEntrySize = 16;
constexpr int32_t kFailed = 1; // status of a request the firmware refuses

// The requests this model serves, as "CLASS/SELECT".
const std::set<std::pair<uint16_t, uint16_t>> kRequests = {
    {99, 24}, {0, 0}, {1, 0}, {3, 2}, {3, 3}, {3, 5}, {99, 11}, {99, 12}, {99, 13}, {99, 14},
};

std::string requestKey(uint16_t cls, uint16_t select)
{
    return std::to_string(cls) + "/" + std::to_string(select);
}

std::string settingKey(uint16_t cls, uint16_t select, uint32_t setting)
{
    return requestKey(cls, select) + "/" + hexText(setting, 4);
}

// "CLASS/SELECT" or "CLASS/SELECT/SETTING" in its normal spelling.
std::string normalKey(const FieldReader& r, const std::string& key)
{
    const std::string field = "status." + key;
    std::vector<uint64_t> parts;
    size_t start = 0;
    for (;;) {
        const size_t slash = key.find('/', start);
        const std::string part = key.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        char* end = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(part.c_str(), &end, 0);
        if (part.empty() || part[0] == '-' || *end != '\0' || errno != 0 || n > 0xFFFFFFFF)
            r.fail(field, "the key must be CLASS/SELECT or CLASS/SELECT/SETTING");
        parts.push_back(n);
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    if (parts.size() < 2 || parts.size() > 3 || parts[0] > 0xFFFF || parts[1] > 0xFFFF)
        r.fail(field, "the key must be CLASS/SELECT or CLASS/SELECT/SETTING");
    const uint16_t cls = uint16_t(parts[0]), select = uint16_t(parts[1]);
    if (kRequests.count({cls, select}) == 0)
        r.fail(field, "not a boot-configuration request");
    if (parts.size() == 3) {
        if (cls > 1)
            r.fail(field, "a setting is named only for classes 0 and 1");
        return settingKey(cls, select, uint32_t(parts[2]));
    }
    return requestKey(cls, select);
}

// Where a request's payload lies in the shared buffer; none when the
// address and length are not inside it.
std::optional<size_t> payload(const CallContext& ctx, uint32_t address, size_t length)
{
    if (address < ctx.bufferAddress)
        return std::nullopt;
    const uint64_t offset = address - ctx.bufferAddress;
    if (!ctx.buffer.fits(offset, length))
        return std::nullopt;
    return size_t(offset);
}

bool refuse(CallAnswer& answer, CallContext& ctx, const std::string& why)
{
    ctx.detail["error"] = why;
    answer.setStatus(kFailed);
    return true;
}

// A zero-terminated UTF-16LE string at `address` in the shared buffer.
std::optional<std::u16string> readString(CallContext& ctx, uint32_t address, const std::string& name)
{
    std::optional<size_t> at = payload(ctx, address, 2);
    if (!at)
        return std::nullopt;
    std::u16string units;
    for (size_t off = *at; ctx.buffer.fits(off, 2); off += 2) {
        const uint16_t unit = ctx.buffer.u16(off);
        if (unit == 0) {
            ctx.detail[name] = utf16ToUtf8(units);
            ctx.detail[name + "_hex"] = ctx.buffer.hex(*at, off + 2 - *at);
            return units;
        }
        units.push_back(char16_t(unit));
    }
    return std::nullopt;
}

// Every index from 0 to n - 1 exactly once.
bool isPermutation(const std::vector<uint8_t>& list, size_t n)
{
    std::vector<uint8_t> sorted(list);
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size(); ++i)
        if (sorted[i] != i)
            return false;
    return sorted.size() == n;
}

std::vector<UefiBootOption>::iterator findOption(BootConfigDescription& state, const std::u16string& label)
{
    return std::find_if(state.bootOptions.begin(), state.bootOptions.end(),
                        [&label](const UefiBootOption& o) { return o.label == label; });
}

// Offset of device k's string: its own, else right behind the previous
// device's string (the first at 0). Wider than 16 bits when names run long.
uint32_t runningOffset(const std::vector<BbsDevice>& devices, size_t k)
{
    uint32_t offset = 0;
    for (size_t i = 0; i <= k; ++i) {
        if (devices[i].offset)
            offset = *devices[i].offset;
        else if (i != 0)
            offset += uint32_t(devices[i - 1].name.size()) + 1;
    }
    return offset;
}

} // namespace

std::u16string utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = text[i];
        uint32_t cp = 0xFFFD;
        size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size()) {
            length = 1;
        } else {
            cp = length == 1 ? c : c & (0x7F >> length);
            for (size_t k = 1; k < length; ++k) {
                const unsigned char cc = text[i + k];
                if ((cc & 0xC0) != 0x80) {
                    cp = 0xFFFD;
                    length = k;
                    break;
                }
                cp = cp << 6 | (cc & 0x3F);
            }
            if (cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000))
                cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 | cp >> 10));
            out.push_back(char16_t(0xDC00 | (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += length;
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& units)
{
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t cp = units[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10 | (units[i + 1] - 0xDC00));
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | cp >> 6));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | cp >> 12));
            out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | cp >> 18));
            out.push_back(char(0x80 | (cp >> 12 & 0x3F)));
            out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

BootConfigDescription BootConfigDescription::fromJson(const json& j)
{
    // A null field takes its default throughout.
    constexpr FieldReader::Null kDefault = FieldReader::Null::MeansAbsent;
    FieldReader r(j, "boot", kDefault);
    BootConfigDescription b;
    b.modeEncoding = uint32_t(r.integer("mode_encoding", 0, 0xFFFFFFFF, b.modeEncoding));
    if (const json* v = r.find("boot_mode")) {
        if (v->is_string() && v->get<std::string>() == "legacy") {
            b.bootMode = Mode::Legacy;
        } else if (v->is_string() && v->get<std::string>() == "uefi") {
            b.bootMode = Mode::Uefi;
        } else {
            b.bootMode = Mode::Raw;
            b.rawBootMode = uint32_t(r.toInteger(*v, "boot_mode", 0, 0xFFFFFFFF));
        }
    }
    if (const json* v = r.find("secure_boot"))
        b.secureBoot =
            v->is_boolean() ? uint32_t(v->get<bool>()) : uint32_t(r.toInteger(*v, "secure_boot", 0, 0xFFFFFFFF));

    if (const json* bbs = r.find("bbs")) {
        FieldReader f(*bbs, "boot.bbs", kDefault);
        b.segment = uint16_t(f.integer("segment", 0, 0xFFFF, b.segment));
        if (const json* devices = f.find("devices")) {
            if (!devices->is_array())
                f.fail("devices", "must be a list");
            if (devices->size() > kMaxDevices)
                f.fail("devices", "at most 255 devices");
            for (size_t i = 0; i < devices->size(); ++i) {
                FieldReader d((*devices)[i], "boot.bbs.devices[" + std::to_string(i) + "]", kDefault);
                BbsDevice device;
                device.name = d.text("name", "");
                if (device.name.find('\0') != std::string::npos)
                    d.fail("name", "must not hold a zero byte");
                device.type = uint16_t(d.integer("type", 0, 0xFFFF, device.type));
                if (const json* v = d.find("segment"))
                    device.segment = uint16_t(d.toInteger(*v, "segment", 0, 0xFFFF));
                if (const json* v = d.find("offset"))
                    device.offset = uint16_t(d.toInteger(*v, "offset", 0, 0xFFFF));
                d.finish();
                b.devices.push_back(device);
            }
        }
        if (const json* v = f.find("priority")) {
            b.priority = f.toBytes(*v, "priority");
        } else {
            for (size_t k = 0; k < b.devices.size(); ++k)
                b.priority.push_back(uint8_t(k));
        }
        if (b.priority.size() != b.devices.size())
            f.fail("priority", "must hold one entry per device");
        if (const json* v = f.find("skip"))
            b.skip = f.toBytes(*v, "skip");
        else
            b.skip.assign(b.devices.size(), 0);
        f.finish();
    }

    if (const json* options = r.find("boot_options")) {
        if (!options->is_array())
            r.fail("boot_options", "must be a list");
        for (size_t i = 0; i < options->size(); ++i) {
            FieldReader o((*options)[i], "boot.boot_options[" + std::to_string(i) + "]", kDefault);
            UefiBootOption option;
            option.label = utf8ToUtf16(o.text("label", ""));
            option.loader = utf8ToUtf16(o.text("loader", ""));
            o.finish();
            b.bootOptions.push_back(option);
        }
    }

    if (const json* status = r.find("status")) {
        if (!status->is_object())
            r.fail("status", "must be an object");
        for (auto it = status->begin(); it != status->end(); ++it)
            b.status[normalKey(r, it.key())] =
                int32_t(r.toInteger(it.value(), "status." + it.key(), INT32_MIN, 0xFFFFFFFFLL));
    }
    r.finish();

    // Each description string lies in low memory below the BIOS areas, its
    // offset within 16 bits, and no two overlap.
    std::vector<std::pair<uint32_t, uint32_t>> strings;
    for (size_t k = 0; k < b.devices.size(); ++k) {
        const std::string path = "bbs.devices[" + std::to_string(k) + "]";
        if (runningOffset(b.devices, k) > 0xFFFF)
            r.fail(path + ".offset", "the string's offset must fit 16 bits; give an offset");
        const uint32_t begin = b.descriptionAddress(k);
        const uint32_t end = begin + uint32_t(b.devices[k].name.size()) + 1;
        if (end > kDescriptionLimit)
            r.fail(path + ".name", "the description string must end below 0xE0000");
        strings.push_back({begin, end});
    }
    std::sort(strings.begin(), strings.end());
    for (size_t i = 1; i < strings.size(); ++i)
        if (strings[i].first < strings[i - 1].second)
            r.fail("bbs.devices", "two description strings overlap");
    return b;
}

json BootConfigDescription::toJson() const
{
    json j = json::object();
    j["mode_encoding"] = modeEncoding;
    if (bootMode == Mode::Raw)
        j["boot_mode"] = rawBootMode;
    else
        j["boot_mode"] = bootMode == Mode::Legacy ? "legacy" : "uefi";
    j["secure_boot"] = secureBoot <= 1 ? json(secureBoot == 1) : json(secureBoot);
    json devicesJson = json::array();
    for (const BbsDevice& d : devices)
        devicesJson.push_back({{"name", d.name},
                               {"type", d.type},
                               {"segment", d.segment ? json(hexText(*d.segment, 4)) : json(nullptr)},
                               {"offset", d.offset ? json(hexText(*d.offset, 4)) : json(nullptr)}});
    j["bbs"] = {{"segment", hexText(segment, 4)}, {"devices", devicesJson}, {"priority", priority}, {"skip", skip}};
    json options = json::array();
    for (const UefiBootOption& o : bootOptions)
        options.push_back({{"label", utf16ToUtf8(o.label)}, {"loader", utf16ToUtf8(o.loader)}});
    j["boot_options"] = options;
    j["status"] = json::object();
    for (const auto& [key, value] : status)
        j["status"][key] = value;
    return j;
}

uint32_t BootConfigDescription::descriptionAddress(size_t k) const
{
    const uint16_t seg = devices[k].segment.value_or(segment);
    return uint32_t(seg) * 16 + (runningOffset(devices, k) & 0xFFFF);
}

uint32_t BootConfigDescription::bootModeValue() const
{
    switch (bootMode) {
    case Mode::Legacy:
        return modeEncoding == 1 ? 1 : 0;
    case Mode::Uefi:
        return modeEncoding == 1 ? 2 : 1;
    case Mode::Raw:
        break;
    }
    return rawBootMode;
}

// One line per option in boot order, "N. LABEL (LOADER)", joined by line
// feeds, without a final one.
std::u16string BootConfigDescription::listText() const
{
    std::u16string text;
    for (size_t i = 0; i < bootOptions.size(); ++i) {
        if (i != 0)
            text += u"\n";
        text += utf8ToUtf16(std::to_string(i + 1) + ". ");
        text += bootOptions[i].label + u" (" + bootOptions[i].loader + u")";
    }
    return text;
}

namespace {

// The handlers of one platform's requests: each first looks for a status
// override of its request, then does the request's work.
struct BootRequests {
    using Body = std::function<bool(CallContext&, CallAnswer&)>;

    CallingInterface& calling;
    BootConfigDescription& state;

    void serve(uint16_t cls, uint16_t select, Body body)
    {
        calling.registerHandler(cls, select, [&state = state, cls, select, body](CallContext& ctx, CallAnswer& answer) {
            auto it = state.status.end();
            if (cls <= 1)
                it = state.status.find(settingKey(cls, select, ctx.request.input[0]));
            if (it == state.status.end())
                it = state.status.find(requestKey(cls, select));
            if (it != state.status.end() && it->second != 0) {
                ctx.detail["override"] = it->second;
                if (it->second == CallingInterface::kNotHandled)
                    return false;
                answer.setStatus(it->second);
                return true;
            }
            return body(ctx, answer);
        });
    }
};

// Power-on: the description strings the IPL table points at.
void layDescriptionStrings(const BootConfigDescription& state, PhysicalMemory& memory)
{
    for (size_t k = 0; k < state.devices.size(); ++k) {
        const std::string& name = state.devices[k].name;
        ByteView at = memory.view(state.descriptionAddress(k), name.size() + 1);
        at.setBytes(0, name.data(), name.size());
        at.setU8(name.size(), 0);
    }
}

// The boot-mode encoding and the settings: boot mode and secure boot.
void serveModeRequests(BootRequests& requests)
{
    BootConfigDescription& state = requests.state;
    requests.serve(99, 24, [&state](CallContext& ctx, CallAnswer& answer) {
        answer.setStatus(int32_t(state.modeEncoding));
        ctx.detail["answer"] = state.modeEncoding;
        return true;
    });

    requests.serve(0, 0, [&state](CallContext& ctx, CallAnswer& answer) {
        const uint32_t setting = ctx.request.input[0];
        if (setting == kBootMode)
            answer.output[1] = state.bootModeValue();
        else if (setting == kSecureBoot)
            answer.output[1] = state.secureBoot;
        else
            return false;
        answer.setStatus(0);
        ctx.detail["setting"] = setting;
        ctx.detail["value"] = answer.output[1];
        return true;
    });

    requests.serve(1, 0, [&state](CallContext& ctx, CallAnswer& answer) {
        const uint32_t setting = ctx.request.input[0];
        if (setting == kBootMode)
            state.bootMode = BootConfigDescription::Mode::Legacy;
        else if (setting == kUefiMode)
            state.bootMode = BootConfigDescription::Mode::Uefi;
        else if (setting == kSecureBoot)
            state.secureBoot = ctx.request.input[1];
        else
            return false;
        answer.setStatus(0);
        ctx.detail["setting"] = setting;
        ctx.detail["value"] = ctx.request.input[1];
        return true;
    });
}

// The legacy boot devices: count, priority list with IPL table and skip
// list, new priority list.
void serveBbsRequests(BootRequests& requests)
{
    BootConfigDescription& state = requests.state;
    requests.serve(3, 2, [&state](CallContext& ctx, CallAnswer& answer) {
        answer.setStatus(0);
        answer.output[1] = uint32_t(state.devices.size());
        ctx.detail["count"] = state.devices.size();
        return true;
    });

    requests.serve(3, 3, [&state](CallContext& ctx, CallAnswer& answer) {
        const size_t n = state.devices.size();
        const std::optional<size_t> list = payload(ctx, ctx.request.input[0], state.priority.size());
        const std::optional<size_t> table = payload(ctx, ctx.request.input[1], kIplEntrySize * n);
        const std::optional<size_t> skip = payload(ctx, ctx.request.input[2], state.skip.size());
        if (!list || !table || !skip)
            return refuse(answer, ctx, "the priority list, IPL table or skip list is not inside the shared buffer");
        ctx.buffer.setBytes(*list, state.priority.data(), state.priority.size());
        for (size_t k = 0; k < n; ++k) {
            const uint32_t address = state.descriptionAddress(k);
            ByteView entry = ctx.buffer.sub(*table + kIplEntrySize * k, kIplEntrySize);
            entry.fill(0, kIplEntrySize, 0);
            entry.setU16(0, state.devices[k].type);
            const uint16_t segment = state.devices[k].segment.value_or(state.segment);
            entry.setU16(8, uint16_t(address - uint32_t(segment) * 16));
            entry.setU16(10, segment);
        }
        ctx.buffer.setBytes(*skip, state.skip.data(), state.skip.size());
        answer.setStatus(0);
        ctx.detail["priority"] = state.priority;
        ctx.detail["skip"] = state.skip;
        return true;
    });

    requests.serve(3, 5, [&state](CallContext& ctx, CallAnswer& answer) {
        const size_t n = state.devices.size();
        const std::optional<size_t> list = payload(ctx, ctx.request.input[0], n);
        const std::optional<size_t> skip = payload(ctx, ctx.request.input[1], state.skip.size());
        if (!list || !skip)
            return refuse(answer, ctx, "the priority list or skip list is not inside the shared buffer");
        std::vector<uint8_t> priority(ctx.buffer.data() + *list, ctx.buffer.data() + *list + n);
        ctx.detail["priority"] = priority;
        ctx.detail["skip"] =
            std::vector<uint8_t>(ctx.buffer.data() + *skip, ctx.buffer.data() + *skip + state.skip.size());
        ctx.detail["security_key"] = ctx.request.input[2];
        if (!isPermutation(priority, n))
            return refuse(answer, ctx, "the priority list does not name every device once");
        state.priority = priority;
        answer.setStatus(0);
        return true;
    });
}

// The UEFI boot option store: list text, add, delete, make first.
void serveBootOptionRequests(BootRequests& requests)
{
    BootConfigDescription& state = requests.state;

    // The list text goes at Input[0]; what does not fit before the end of
    // the shared buffer is left out, and then there is no terminator.
    requests.serve(99, 11, [&state](CallContext& ctx, CallAnswer& answer) {
        const std::optional<size_t> at = payload(ctx, ctx.request.input[0], 0);
        if (!at)
            return refuse(answer, ctx, "the list address is not inside the shared buffer");
        const std::u16string text = state.listText();
        const size_t room = (ctx.buffer.size() - *at) / 2;
        const size_t written = std::min(text.size(), room);
        for (size_t i = 0; i < written; ++i)
            ctx.buffer.setU16(*at + 2 * i, text[i]);
        if (written < room)
            ctx.buffer.setU16(*at + 2 * written, 0);
        ctx.detail["text"] = utf16ToUtf8(text);
        ctx.detail["terminated"] = written < room;
        answer.setStatus(0);
        return true;
    });

    requests.serve(99, 12, [&state](CallContext& ctx, CallAnswer& answer) {
        const std::optional<std::u16string> label = readString(ctx, ctx.request.input[0], "label");
        const std::optional<std::u16string> loader = readString(ctx, ctx.request.input[1], "loader");
        if (!label || !loader)
            return refuse(answer, ctx, "the label or loader is not a terminated string inside the shared buffer");
        if (findOption(state, *label) != state.bootOptions.end())
            return refuse(answer, ctx, "a boot option with this label exists");
        state.bootOptions.push_back({*label, *loader});
        answer.setStatus(0);
        return true;
    });

    requests.serve(99, 13, [&state](CallContext& ctx, CallAnswer& answer) {
        const std::optional<std::u16string> label = readString(ctx, ctx.request.input[0], "label");
        if (!label)
            return refuse(answer, ctx, "the label is not a terminated string inside the shared buffer");
        auto it = findOption(state, *label);
        if (it == state.bootOptions.end())
            return refuse(answer, ctx, "no boot option has this label");
        state.bootOptions.erase(it);
        answer.setStatus(0);
        return true;
    });

    requests.serve(99, 14, [&state](CallContext& ctx, CallAnswer& answer) {
        const std::optional<std::u16string> label = readString(ctx, ctx.request.input[0], "label");
        if (!label)
            return refuse(answer, ctx, "the label is not a terminated string inside the shared buffer");
        auto it = findOption(state, *label);
        if (it == state.bootOptions.end())
            return refuse(answer, ctx, "no boot option has this label");
        std::rotate(state.bootOptions.begin(), it, it + 1);
        answer.setStatus(0);
        return true;
    });
}

} // namespace

void installBootConfiguration(CallingInterface& calling, BootConfigDescription& state, PhysicalMemory& memory)
{
    layDescriptionStrings(state, memory);
    BootRequests requests{calling, state};
    serveModeRequests(requests);
    serveBbsRequests(requests);
    serveBootOptionRequests(requests);
}

} // namespace fwemu

// The firmware's boot configuration behind the calling interface (SMI 0x0D):
// the boot-mode encoding (99/24), the boot-mode and secure-boot settings
// (classes 0 and 1, select 0), the legacy boot devices (3/2 count, 3/3
// priority list, IPL table and skip list, 3/5 new priority list) with their
// description strings in low memory, and the UEFI boot option store (99/11
// list text, 99/12 add, 99/13 delete, 99/14 make first). Each request can be
// told to go unhandled or to fail. The state lives in the platform
// description's "boot" object, so --save carries changes to the next run.
#ifndef FWEMU_BOOTCONFIGURATION_H
#define FWEMU_BOOTCONFIGURATION_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "PhysicalMemory.h"

namespace fwemu {

class CallingInterface;

struct BbsDevice {
    std::string name;                // description string, as bytes
    uint16_t type = 2;               // BBS device type (IPL entry bytes 0-1)
    std::optional<uint16_t> segment; // none: the common segment
    std::optional<uint16_t> offset;  // none: right behind the previous device's string
};

struct UefiBootOption {
    std::u16string label;
    std::u16string loader;
};

struct BootConfigDescription {
    enum class Mode { Legacy, Uefi, Raw };

    uint32_t modeEncoding = 0; // Output[0] of 99/24: 1 = legacy 1 / UEFI 2, else legacy 0 / UEFI 1
    Mode bootMode = Mode::Legacy;
    uint32_t rawBootMode = 0; // the value read for Mode::Raw
    uint32_t secureBoot = 0;  // Output[1] of the 0x8009 read

    uint16_t segment = 0xD000; // common segment of the description strings
    std::vector<BbsDevice> devices;
    std::vector<uint8_t> priority; // device indexes, highest priority first
    std::vector<uint8_t> skip;     // IPL skip list, handed out with 3/3

    std::vector<UefiBootOption> bootOptions;

    // Per-request status overrides: "CLASS/SELECT", or "CLASS/SELECT/SETTING"
    // for classes 0 and 1 (the setting in Input[0]). -2: left unhandled;
    // another non-zero value: answered with that status and not carried out.
    std::map<std::string, int32_t> status;

    // Low memory that holds the description strings (below the BIOS areas).
    static constexpr uint32_t kDescriptionLimit = 0xE0000;
    static constexpr size_t kMaxDevices = 255;

    // Throws PlatformError naming the field ("boot.<field>").
    static BootConfigDescription fromJson(const nlohmann::json& json);
    nlohmann::json toJson() const;

    // Physical address of device k's description string.
    uint32_t descriptionAddress(size_t k) const;
    // The value the boot-mode read answers.
    uint32_t bootModeValue() const;
    // The firmware's boot option list text.
    std::u16string listText() const;
};

// Lays the description strings into `memory` (power-on) and registers the
// handlers of every boot-configuration request with `calling`. `state` is
// read and changed by the handlers; it must outlive them.
void installBootConfiguration(CallingInterface& calling, BootConfigDescription& state, PhysicalMemory& memory);

// UTF-8 (JSON text) to UTF-16 units and back; invalid sequences and lone
// surrogates become U+FFFD.
std::u16string utf8ToUtf16(const std::string& text);
std::string utf16ToUtf8(const std::u16string& units);

} // namespace fwemu

#endif

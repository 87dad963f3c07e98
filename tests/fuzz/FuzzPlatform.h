// What the firmware fuzzers share: one in-process platform per fuzzing
// process, set up as a run sets it up (platform start, all 14 modules
// registered), and the input format that hands the program hostile firmware.
//
// An input is a list of records:
//   0x00 offset:u16 length:u16 bytes  the firmware's answer to the next SMI:
//                                     bytes written into the shared buffer
//                                     at offset (an SMI with no record left
//                                     is not answered)
//   0x01 address:u32 length:u16 bytes physical memory at address, before the
//                                     run (restored afterwards)
//   0x02 length:u16 bytes             one command-line word
// Numbers are little-endian; a record cut short by the input's end takes
// what is there. The records are also how the seed corpora are written
// (tests/fuzz/seeds.cpp makes them from the example platforms).
#ifndef FUZZ_FUZZPLATFORM_H
#define FUZZ_FUZZPLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/InProcessFirmware.h"

namespace fuzz {

struct Answer {
    uint16_t offset = 0;
    std::vector<uint8_t> bytes;
};

struct Chunk {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};

struct Input {
    std::vector<Answer> answers;
    std::vector<Chunk> chunks;
    std::vector<std::string> words;

    static Input Parse(const uint8_t* data, size_t size);
    std::vector<uint8_t> Serialize() const;
};

// The platform of the fuzzers: platforms/legacy-desktop.json with 1 GiB of
// memory (as the largest example platform), started and with its modules
// registered. One per process (a function-local static).
class Platform {
public:
    // blankFirmwareAreas: the RSDP area, the BIOS area and the ACPI tables
    // are zeroed after start-up, so that an input's chunks alone make them.
    // platformFile: a platform description (default: legacy-desktop).
    explicit Platform(bool blankFirmwareAreas = false, const std::string& platformFile = "");

    testsupport::InProcessFirmware& Firmware() { return *firmware_; }

    // Puts the input's chunks into memory and its answers in place of the
    // firmware model's; Finish() undoes both.
    void Begin(const Input& input);
    void Finish();
    // Whether every answer of the input was used.
    size_t AnswersLeft() const { return answers_.size() - nextAnswer_; }
    // The first 36 bytes of the shared buffer (the request block) as each
    // SMI since Begin() left them, in order.
    const std::vector<std::vector<uint8_t>>& Answered() const { return answered_; }

    // Offers the words (the program path first) to every module as the
    // pipeline does. True when the pipeline would execute the line: no
    // parse error, at least one word and every word claimed.
    bool ParseLine(const std::vector<std::string>& words);
    // Executes the enabled modules that follow the three firmware and
    // banner modules, in registration order, until one fails; its code.
    int ExecuteCommands();
    // Command modules enabled after ParseLine.
    unsigned EnabledCommands() const;

private:
    std::unique_ptr<testsupport::InProcessFirmware> firmware_;
    std::vector<Answer> answers_;
    size_t nextAnswer_ = 0;
    std::vector<std::vector<uint8_t>> answered_;
    std::vector<Chunk> saved_; // memory as it was under the input's chunks
    std::vector<bool> initialEnable_;
    unsigned typeDA_ = 0;    // GetTypeDA's place in the registration table
    unsigned usageFoot_ = 0; // the usage foot's
    std::vector<std::string> lineWords_;
};

} // namespace fuzz

#endif

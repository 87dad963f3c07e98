// Reading the platform file: one JSON object at a time, each field by name,
// with the object's place in the file ("acpi", "boot.bbs.devices[2]") in every
// error. Fields the reader was not asked for are reported as unknown, so a
// misspelt name never passes silently. Also the spelling of numbers that
// --save writes back.
#ifndef FWEMU_FIELDREADER_H
#define FWEMU_FIELDREADER_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace fwemu {

class FieldReader {
public:
    // Whether a field given as null counts as absent (its default applies)
    // or as a value of its own that the caller looks at.
    enum class Null { IsValue, MeansAbsent };

    // Throws PlatformError "<path>: must be an object" for anything else.
    FieldReader(const nlohmann::json& object, std::string path, Null null = Null::IsValue);

    // Throws PlatformError "<path>.<key>: <what>"; key may be empty, or a
    // path below this object ("devices[0].name").
    [[noreturn]] void fail(const std::string& key, const std::string& what) const;

    // The field, or nullptr when it is absent (or null, with MeansAbsent).
    // Either way the field counts as known.
    const nlohmann::json* find(const std::string& key);
    bool isNull(const std::string& key);

    // A whole number: a JSON number or a string in C notation ("0xB2",
    // "178"), from 0 to max. Errors read "must not be negative" and "must be
    // at most 0x...".
    uint64_t number(const std::string& key, uint64_t max, uint64_t fallback);
    uint64_t toNumber(const nlohmann::json& value, const std::string& key, uint64_t max) const;
    // The same from min to max, the error reading "must be from MIN to MAX".
    int64_t integer(const std::string& key, int64_t min, int64_t max, int64_t fallback);
    int64_t toInteger(const nlohmann::json& value, const std::string& key, int64_t min, int64_t max) const;
    // A list of byte values.
    std::vector<uint8_t> toBytes(const nlohmann::json& value, const std::string& key) const;

    bool boolean(const std::string& key, bool fallback);
    std::string text(const std::string& key, const std::string& fallback);
    std::string toText(const nlohmann::json& value, const std::string& key) const;

    // Fails on the first field nobody asked for.
    void finish() const;

private:
    // Any whole number the file may spell; numbers beyond 64 bits fail.
    int64_t wholeNumber(const nlohmann::json& value, const std::string& key) const;

    const nlohmann::json& object_;
    std::string path_;
    Null null_;
    std::set<std::string> used_;
};

// "0x" and at least `digits` upper-case hexadecimal digits.
std::string hexText(uint64_t value, int digits);

} // namespace fwemu

#endif

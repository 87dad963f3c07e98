#include "FieldReader.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "PlatformDescription.h"

namespace fwemu {

using nlohmann::json;

namespace {

constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();

} // namespace

FieldReader::FieldReader(const json& object, std::string path, Null null)
    : object_(object), path_(std::move(path)), null_(null)
{
    if (!object_.is_object())
        fail("", "must be an object");
}

void FieldReader::fail(const std::string& key, const std::string& what) const
{
    std::string where = path_;
    if (!key.empty())
        where += (where.empty() ? "" : ".") + key;
    throw PlatformError((where.empty() ? std::string("platform") : where) + ": " + what);
}

const json* FieldReader::find(const std::string& key)
{
    used_.insert(key);
    auto it = object_.find(key);
    if (it == object_.end() || (null_ == Null::MeansAbsent && it->is_null()))
        return nullptr;
    return &*it;
}

bool FieldReader::isNull(const std::string& key)
{
    used_.insert(key);
    auto it = object_.find(key);
    return it != object_.end() && it->is_null();
}

int64_t FieldReader::wholeNumber(const json& v, const std::string& key) const
{
    if (v.is_number_unsigned())
        return v.get<uint64_t>() > uint64_t(kLargest) ? kLargest : int64_t(v.get<uint64_t>());
    if (v.is_number_integer())
        return v.get<int64_t>();
    if (!v.is_string())
        fail(key, "must be a whole number");
    const std::string s = v.get<std::string>();
    char* end = nullptr;
    errno = 0;
    int64_t n = 0;
    if (!s.empty() && s[0] == '-') {
        n = std::strtoll(s.c_str(), &end, 0);
    } else {
        const unsigned long long u = std::strtoull(s.c_str(), &end, 0);
        n = u > uint64_t(kLargest) ? kLargest : int64_t(u);
    }
    if (s.empty() || *end != '\0' || errno != 0)
        fail(key, "\"" + s + "\" is not a number");
    return n;
}

uint64_t FieldReader::number(const std::string& key, uint64_t max, uint64_t fallback)
{
    const json* v = find(key);
    return v == nullptr ? fallback : toNumber(*v, key, max);
}

uint64_t FieldReader::toNumber(const json& v, const std::string& key, uint64_t max) const
{
    const int64_t n = wholeNumber(v, key);
    if (n < 0)
        fail(key, "must not be negative");
    if (uint64_t(n) > max) {
        std::ostringstream os;
        os << "must be at most 0x" << std::hex << std::uppercase << max;
        fail(key, os.str());
    }
    return uint64_t(n);
}

int64_t FieldReader::integer(const std::string& key, int64_t min, int64_t max, int64_t fallback)
{
    const json* v = find(key);
    return v == nullptr ? fallback : toInteger(*v, key, min, max);
}

int64_t FieldReader::toInteger(const json& v, const std::string& key, int64_t min, int64_t max) const
{
    const int64_t n = wholeNumber(v, key);
    if (n < min || n > max)
        fail(key, "must be from " + std::to_string(min) + " to " + std::to_string(max));
    return n;
}

std::vector<uint8_t> FieldReader::toBytes(const json& v, const std::string& key) const
{
    if (!v.is_array())
        fail(key, "must be a list of byte values");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < v.size(); ++i)
        bytes.push_back(uint8_t(toInteger(v[i], key + "[" + std::to_string(i) + "]", 0, 0xFF)));
    return bytes;
}

bool FieldReader::boolean(const std::string& key, bool fallback)
{
    const json* v = find(key);
    if (v == nullptr)
        return fallback;
    if (!v->is_boolean())
        fail(key, "must be true or false");
    return v->get<bool>();
}

std::string FieldReader::text(const std::string& key, const std::string& fallback)
{
    const json* v = find(key);
    return v == nullptr ? fallback : toText(*v, key);
}

std::string FieldReader::toText(const json& v, const std::string& key) const
{
    if (!v.is_string())
        fail(key, "must be a string");
    return v.get<std::string>();
}

void FieldReader::finish() const
{
    for (auto it = object_.begin(); it != object_.end(); ++it)
        if (used_.count(it.key()) == 0)
            fail(it.key(), "unknown field");
}

std::string hexText(uint64_t value, int digits)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*llX", digits, (unsigned long long)value);
    return buf;
}

} // namespace fwemu

#include "ByteView.h"

#include <cstring>
#include <stdexcept>

namespace fwemu {

void ByteView::check(size_t offset, size_t length) const
{
    if (!fits(offset, length))
        throw std::out_of_range("access of " + std::to_string(length) + " bytes at offset " + std::to_string(offset) +
                                " outside a window of " + std::to_string(size_) + " bytes");
}

ByteView ByteView::sub(size_t offset, size_t length) const
{
    check(offset, length);
    return ByteView(data_ + offset, length);
}

uint8_t ByteView::u8(size_t offset) const
{
    check(offset, 1);
    return data_[offset];
}

uint16_t ByteView::u16(size_t offset) const
{
    check(offset, 2);
    return uint16_t(data_[offset] | data_[offset + 1] << 8);
}

uint32_t ByteView::u32(size_t offset) const
{
    check(offset, 4);
    return uint32_t(data_[offset]) | uint32_t(data_[offset + 1]) << 8 | uint32_t(data_[offset + 2]) << 16 |
           uint32_t(data_[offset + 3]) << 24;
}

uint64_t ByteView::u64(size_t offset) const
{
    return uint64_t(u32(offset)) | uint64_t(u32(offset + 4)) << 32;
}

void ByteView::setU8(size_t offset, uint8_t value)
{
    check(offset, 1);
    data_[offset] = value;
}

void ByteView::setU16(size_t offset, uint16_t value)
{
    check(offset, 2);
    data_[offset] = uint8_t(value);
    data_[offset + 1] = uint8_t(value >> 8);
}

void ByteView::setU32(size_t offset, uint32_t value)
{
    check(offset, 4);
    for (int i = 0; i < 4; ++i)
        data_[offset + i] = uint8_t(value >> (8 * i));
}

void ByteView::setU64(size_t offset, uint64_t value)
{
    check(offset, 8);
    setU32(offset, uint32_t(value));
    setU32(offset + 4, uint32_t(value >> 32));
}

void ByteView::setBytes(size_t offset, const void* source, size_t length)
{
    check(offset, length);
    if (length != 0)
        std::memcpy(data_ + offset, source, length);
}

void ByteView::fill(size_t offset, size_t length, uint8_t value)
{
    check(offset, length);
    if (length != 0)
        std::memset(data_ + offset, value, length);
}

bool ByteView::hasSignature(size_t offset, std::string_view signature) const
{
    check(offset, signature.size());
    return std::memcmp(data_ + offset, signature.data(), signature.size()) == 0;
}

bool ByteView::setText(size_t offset, std::string_view text)
{
    setBytes(offset, text.data(), text.size());
    if (!fits(offset + text.size(), 1))
        return false;
    data_[offset + text.size()] = 0;
    return true;
}

std::string ByteView::text(size_t offset) const
{
    check(offset, 0);
    std::string out;
    for (size_t i = offset; i < size_ && data_[i] != 0; ++i)
        out.push_back(char(data_[i]));
    return out;
}

std::string ByteView::hex(size_t offset, size_t length) const
{
    check(offset, length);
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        out.push_back(digits[data_[offset + i] >> 4]);
        out.push_back(digits[data_[offset + i] & 15]);
    }
    return out;
}

uint8_t ByteView::sum() const
{
    uint8_t s = 0;
    for (size_t i = 0; i < size_; ++i)
        s = uint8_t(s + data_[i]);
    return s;
}

} // namespace fwemu

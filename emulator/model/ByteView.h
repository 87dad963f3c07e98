// Little-endian access to a fixed window of bytes: the shared SMI buffer, a
// firmware table being laid out, the BIOS area. Every access is checked
// against the window, so a request that points the model somewhere odd ends
// in std::out_of_range instead of a stray read or write.
#ifndef FWEMU_BYTEVIEW_H
#define FWEMU_BYTEVIEW_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fwemu {

class ByteView {
public:
    ByteView() = default;
    ByteView(uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool fits(size_t offset, size_t length) const { return offset <= size_ && length <= size_ - offset; }

    // The window [offset, offset + length) of this one.
    ByteView sub(size_t offset, size_t length) const;

    uint8_t u8(size_t offset) const;
    uint16_t u16(size_t offset) const;
    uint32_t u32(size_t offset) const;
    uint64_t u64(size_t offset) const;
    void setU8(size_t offset, uint8_t value);
    void setU16(size_t offset, uint16_t value);
    void setU32(size_t offset, uint32_t value);
    void setU64(size_t offset, uint64_t value);

    void setBytes(size_t offset, const void* source, size_t length);
    void fill(size_t offset, size_t length, uint8_t value);
    // The four characters at offset equal `signature`.
    bool hasSignature(size_t offset, std::string_view signature) const;
    // Writes `text` at offset, then a terminating zero when one still fits
    // in the window. Returns whether the terminator was written.
    bool setText(size_t offset, std::string_view text);
    // The zero-terminated text at offset; stops at the window's end.
    std::string text(size_t offset) const;
    // Upper-case hexadecimal digits of [offset, offset + length).
    std::string hex(size_t offset, size_t length) const;
    // Byte sum of the window, modulo 256 (ACPI checksums).
    uint8_t sum() const;

private:
    void check(size_t offset, size_t length) const;

    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace fwemu

#endif

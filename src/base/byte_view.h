// The one way frame bytes are read.
//
// A byte_view is a pointer and the number of bytes behind it that were really
// captured. It can only be narrowed (sub), never widened, and every getter
// checks the captured end: a read past it yields 0 and a copy past it copies
// nothing, so no decoder can read beyond what libpcap handed over, whatever
// the offsets and lengths inside the frame say. Where the difference between
// "0 on the wire" and "not captured" matters, the caller asks has() first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dhcpident {

class byte_view {
public:
    constexpr byte_view() = default;
    constexpr byte_view(const std::uint8_t* data, std::size_t size)
        : data_(data), size_(data != nullptr ? size : 0) {}

    constexpr std::size_t size() const { return size_; }

    // True when the count bytes starting at offset were all captured.
    constexpr bool has(std::size_t offset, std::size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }

    constexpr std::uint8_t u8(std::size_t offset) const {
        return offset < size_ ? data_[offset] : 0;
    }

    // Network byte order, assembled byte by byte: right on any host and on
    // CPUs that trap unaligned loads.
    constexpr std::uint16_t be16(std::size_t offset) const {
        return static_cast<std::uint16_t>(u8(offset) << 8 | u8(offset + 1));
    }

    // The count bytes at offset, or an empty view when they were not all
    // captured.
    constexpr byte_view sub(std::size_t offset, std::size_t count) const {
        return has(offset, count) ? byte_view(data_ + offset, count) : byte_view();
    }

    // Copies the count bytes at offset to out when they were all captured.
    bool copy_to(std::size_t offset, std::size_t count, std::uint8_t* out) const {
        if (!has(offset, count)) return false;
        if (count != 0) std::memcpy(out, data_ + offset, count);
        return true;
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace dhcpident

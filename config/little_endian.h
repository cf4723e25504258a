#pragma once
// Fixed-width little-endian fields of the stored images. Written byte by byte
// so that the bytes are the same whatever the host's own order.

#include <cstdint>

namespace KRVN {

inline std::uint32_t LoadLE32(const unsigned char* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void StoreLE32(unsigned char* p, std::uint32_t value) noexcept {
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
    p[2] = static_cast<unsigned char>(value >> 16);
    p[3] = static_cast<unsigned char>(value >> 24);
}

} // namespace KRVN

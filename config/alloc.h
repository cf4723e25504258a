#pragma once
// Heap storage of the byte vectors. Images and values hold passwords, so
// bytes that leave use are overwritten with zeros before the memory is given
// back or reused.

#include <cstddef>

namespace KRVN {

class CAlloc {
public:
    // Resizes the block (data, length) to newLength:
    // to 0: zero the bytes and free them; first allocation: zeroed bytes;
    // shrink: zero the tail, keep the allocation; grow: move to a new block
    // whose new tail is zero, the old block being zeroed and freed.
    static void Resize(unsigned char*& data, std::size_t& length, std::size_t newLength);

    // Frees the block; its bytes are zeroed first.
    static void Free(unsigned char*& data, std::size_t& length) noexcept;

    // Zeroes bytes in a way the compiler may not drop as a dead store.
    static void Wipe(void* data, std::size_t length) noexcept;
};

} // namespace KRVN

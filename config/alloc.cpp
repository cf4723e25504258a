#include "config/alloc.h"

#include <cstring>

namespace KRVN {

void CAlloc::Resize(unsigned char*& data, std::size_t& length, std::size_t newLength) {
    if (newLength == length) {
        return;
    }
    if (newLength == 0) {
        Free(data, length);
        return;
    }
    if (data == nullptr) {
        data = new unsigned char[newLength]();
        length = newLength;
        return;
    }
    if (newLength < length) {
        std::memset(data + newLength, 0, length - newLength);
        length = newLength;
        return;
    }
    unsigned char* grown = new unsigned char[newLength];
    std::memcpy(grown, data, length);
    std::memset(grown + length, 0, newLength - length);
    Free(data, length);
    data = grown;
    length = newLength;
}

void CAlloc::Free(unsigned char*& data, std::size_t& length) noexcept {
    Wipe(data, length);
    delete[] data;
    data = nullptr;
    length = 0;
}

void CAlloc::Wipe(void* data, std::size_t length) noexcept {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i) {
        p[i] = 0;
    }
}

} // namespace KRVN

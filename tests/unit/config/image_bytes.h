#pragma once
// Builds expected images word by word, the way the format tables read.

#include "config/buffer.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline void AddWords(Bytes& bytes, std::initializer_list<std::uint32_t> words) {
    for (const std::uint32_t w : words)
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<unsigned char>(w >> shift));
}

inline Bytes Words(std::initializer_list<std::uint32_t> words) {
    Bytes bytes;
    AddWords(bytes, words);
    return bytes;
}

// ASCII text as UTF-16LE.
inline void AddUtf16(Bytes& bytes, const std::string& ascii) {
    for (const char c : ascii) {
        bytes.push_back(static_cast<unsigned char>(c));
        bytes.push_back(0);
    }
}

inline Bytes ToBytes(const KRVN::CBuffer& buffer) {
    return Bytes(buffer.Data(), buffer.Data() + buffer.Size());
}

// The image the registry store writes for an empty server list.
inline Bytes EmptyServerListImage() {
    Bytes image = Words({0x300, 2, 16, 48, 24, 24, 16, 8});
    AddUtf16(image, "alrm_4.2");
    AddWords(image, {12, 56, 4, 3, 0});
    return image;
}

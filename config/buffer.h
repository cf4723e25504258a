#pragma once
// The byte vector of the configuration store: a blob's image, a value's
// serialized form, a blob value's bytes. Sizes follow CAlloc's rules.

#include <cstddef>

namespace KRVN {

class CBuffer {
public:
    CBuffer() noexcept = default;
    // length zero bytes.
    explicit CBuffer(std::size_t length);
    // A copy of length bytes (zeros when bytes is null).
    CBuffer(const void* bytes, std::size_t length);
    CBuffer(const CBuffer& other);
    CBuffer(CBuffer&& other) noexcept;
    CBuffer& operator=(const CBuffer& other);
    CBuffer& operator=(CBuffer&& other) noexcept;
    ~CBuffer();

    unsigned char* Data() noexcept { return m_data; }
    const unsigned char* Data() const noexcept { return m_data; }
    std::size_t Size() const noexcept { return m_length; }
    bool Empty() const noexcept { return m_length == 0; }

    unsigned char& operator[](std::size_t i) noexcept { return m_data[i]; }
    unsigned char operator[](std::size_t i) const noexcept { return m_data[i]; }

    void Resize(std::size_t length);
    // Replaces the contents by a copy of length bytes, which may lie inside
    // this buffer (zeros when bytes is null).
    void Assign(const void* bytes, std::size_t length);
    void Swap(CBuffer& other) noexcept;

    // True when [bytes, bytes + length) overlaps this buffer's bytes.
    bool Holds(const void* bytes, std::size_t length) const noexcept;

    bool operator==(const CBuffer& other) const noexcept;

private:
    unsigned char* m_data = nullptr;
    std::size_t m_length = 0;
};

} // namespace KRVN

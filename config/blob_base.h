#pragma once
// The interface of a blob: numbered parts kept in one byte image.

#include "config/buffer.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace KRVN {

class CBlobBase {
public:
    virtual ~CBlobBase() = default;

    // Makes part index hold length bytes from data (zeros when data is null).
    virtual void SetPart(std::uint32_t index, const void* data, std::size_t length) = 0;
    // Where part index lies and how long it is; null and 0 for a part that is
    // empty or absent. The pointer is valid until the next edit.
    virtual void GetPart(std::uint32_t index, const unsigned char*& data,
                         std::size_t& length) const = 0;
    // Replaces the vector's contents with the image.
    virtual void WriteTo(CBuffer& vector) = 0;
    // Copies the image (as WriteTo makes it) when size is at least its length
    // and sets size to that length; otherwise copies nothing and leaves size.
    void CopyTo(void* buffer, std::size_t& size) {
        CBuffer image;
        WriteTo(image);
        if (buffer != nullptr && size >= image.Size()) {
            std::memcpy(buffer, image.Data(), image.Size());
            size = image.Size();
        }
    }
    // Replaces the image by a copy of the given one.
    virtual void Assign(const void* bytes, std::size_t length) = 0;
    void Assign(const CBuffer& vector) { Assign(vector.Data(), vector.Size()); }
};

} // namespace KRVN

#pragma once
// One part of a typed blob seen as a typed value: the part's bytes are the
// whole serialized value, header included, so reading the part gives back
// exactly the value that was set. The blob must outlive the view.

#include "config/blob_part.h"
#include "config/counted_ptr.h"
#include "config/typed_blob.h"
#include "config/value.h"

#include <cstring>
#include <string>

namespace KRVN {

template <class Buffer> class CTypedBlobPartT : public CBlobPart, public CValue {
public:
    CTypedBlobPartT(CTypedBlobT<Buffer>& blob, std::uint32_t index) noexcept
        : CBlobPart(blob, index) {}

    // The part index in decimal.
    WString GetName() const override {
        const std::string digits = std::to_string(Index());
        return WString(digits.begin(), digits.end());
    }

    // A part's name is its index.
    void SetName(const WString&) override {}

    void SetRaw(const void* bytes, std::size_t length) override {
        Blob().SetPart(Index(), bytes, length);
    }

    // Copies at most size bytes and returns the part's whole length.
    std::size_t GetRaw(void* buffer, std::size_t size) const override {
        const unsigned char* data = nullptr;
        std::size_t length = 0;
        Blob().GetPart(Index(), data, length);
        const std::size_t count = size < length ? size : length;
        if (count != 0) {
            std::memcpy(buffer, data, count);
        }
        return length;
    }

    std::size_t GetRawSize() const override {
        const unsigned char* data = nullptr;
        std::size_t length = 0;
        Blob().GetPart(Index(), data, length);
        return length;
    }
};

// A new view of part index of the typed blob.
template <class Buffer>
CountedPtr<CValue> GetPartValue(CTypedBlobT<Buffer>& blob, std::uint32_t index) {
    return CountedPtr<CValue>(new CTypedBlobPartT<Buffer>(blob, index));
}

} // namespace KRVN

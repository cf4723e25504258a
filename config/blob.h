#pragma once
// A blob: numbered parts in one contiguous image, edited in place.
//
// Image (unsigned 32-bit little-endian fields, offsets from the first byte):
//   0          format tag (0x300 in a new blob; a loaded image keeps its own)
//   4          part count n
//   8 + 4i     offset of part i's descriptor, 0 when the part has none
//   descriptor length of the part's data, offset of its data (0 when empty)
//
// Every image taken from outside passes ValidateImage first; every edit keeps
// the image valid, so the offsets can be followed without further checks.

#include "config/blob_base.h"
#include "config/buffer.h"

#include <cstddef>
#include <cstdint>

namespace KRVN {

template <class Buffer> class CBlobT : public CBlobBase {
public:
    static constexpr std::uint32_t kFormatTag = 0x300;

    CBlobT();
    // A blob loaded from an image of length bytes; see LoadFrom.
    CBlobT(const void* image, std::size_t length);

    void SetPart(std::uint32_t index, const void* data, std::size_t length) override;
    void GetPart(std::uint32_t index, const unsigned char*& data,
                 std::size_t& length) const override;
    // Compacts with removal of empty parts first (so does CopyTo).
    void WriteTo(CBuffer& vector) override;
    using CBlobBase::Assign;
    // Takes the image as it is laid out. Raises E_INVALIDARG, leaving the
    // blob unchanged, when the image is malformed.
    void Assign(const void* bytes, std::size_t length) override;

    // Adds a part at index n.
    void AppendPart(const void* data, std::size_t length);
    // Deletes the part with its descriptor and offset entry; later parts move
    // down by one index. An index at or beyond the count is ignored.
    void RemovePart(std::uint32_t index);
    // Optionally removes every empty part, then trims the buffer to the used
    // bytes.
    void Compact(bool removeEmpty);
    // Rebuilds the blob part by part from the image: header, offset table,
    // all descriptors, then all data in part order; the image's tag is kept.
    // Raises E_INVALIDARG, leaving the blob unchanged, when the image is
    // malformed.
    void LoadFrom(const void* image, std::size_t length);
    void LoadFrom(const CBuffer& image);

    std::uint32_t PartCount() const noexcept;

private:
    static constexpr std::uint32_t kNoPart = 0xFFFFFFFFu;

    std::uint32_t Load(std::size_t position) const noexcept;
    void Store(std::size_t position, std::uint32_t value) noexcept;
    std::uint32_t Entry(std::uint32_t index) const noexcept;
    void SetEntry(std::uint32_t index, std::uint32_t descriptor) noexcept;
    // The end of the header and table, of every descriptor and every data range.
    std::size_t UsedEnd() const noexcept;
    // Makes room for extra bytes behind the used end.
    void Reserve(std::size_t extra);
    // Inserts delta zero bytes at position (delta > 0), or removes -delta bytes
    // ending at position, fixing every offset at or behind it except the data
    // offset of the part growing at position, which keeps its place.
    void Shift(std::size_t position, std::int64_t delta, std::uint32_t growing = kNoPart);
    // Adds count empty parts with descriptors, reserving dataBytes more.
    void AddEmptyParts(std::uint32_t count, std::size_t dataBytes);
    void Reset();
    void Rebuild(const unsigned char* image);

    Buffer m_buffer;
};

extern template class CBlobT<CBuffer>;

} // namespace KRVN

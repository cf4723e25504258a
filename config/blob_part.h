#pragma once
// One part of a blob seen through the blob interface. Its own form is an
// 8-byte header (the part's length, then 0) followed by the part's bytes.
// The blob must outlive the view; the view holds an index, not a pointer into
// the image, so it stays valid across edits.

#include "config/blob_base.h"

#include <cstdint>

namespace KRVN {

class CBlobPart : public CBlobBase {
public:
    static constexpr std::size_t kHeaderSize = 8;

    CBlobPart(CBlobBase& blob, std::uint32_t index) noexcept : m_blob(&blob), m_index(index) {}

    // Passes straight through to the blob, with the index given.
    void SetPart(std::uint32_t index, const void* data, std::size_t length) override;
    // The view's own part, whatever index is given.
    void GetPart(std::uint32_t index, const unsigned char*& data,
                 std::size_t& length) const override;
    void WriteTo(CBuffer& vector) override;
    using CBlobBase::Assign;
    // Takes the header-and-bytes form; a form of 8 bytes or less changes
    // nothing. Raises E_INVALIDARG when the header claims more bytes than
    // follow it.
    void Assign(const void* bytes, std::size_t length) override;

    std::uint32_t Index() const noexcept { return m_index; }

protected:
    CBlobBase& Blob() const noexcept { return *m_blob; }

private:
    CBlobBase* m_blob;
    std::uint32_t m_index;
};

} // namespace KRVN

#include "config/blob_part.h"

#include "common/ca_exception.h"
#include "config/little_endian.h"

#include <cstring>

namespace KRVN {

void CBlobPart::SetPart(std::uint32_t index, const void* data, std::size_t length) {
    m_blob->SetPart(index, data, length);
}

void CBlobPart::GetPart(std::uint32_t, const unsigned char*& data, std::size_t& length) const {
    m_blob->GetPart(m_index, data, length);
}

void CBlobPart::WriteTo(CBuffer& vector) {
    const unsigned char* data = nullptr;
    std::size_t length = 0;
    m_blob->GetPart(m_index, data, length);
    CBuffer form(kHeaderSize + length);
    StoreLE32(form.Data(), static_cast<std::uint32_t>(length));
    if (length != 0) {
        std::memcpy(form.Data() + kHeaderSize, data, length);
    }
    vector.Swap(form);
}

void CBlobPart::Assign(const void* bytes, std::size_t length) {
    if (bytes == nullptr || length <= kHeaderSize) {
        return;
    }
    const auto* form = static_cast<const unsigned char*>(bytes);
    const std::size_t partLength = LoadLE32(form);
    if (partLength > length - kHeaderSize) {
        KRVN_RAISE(kE_INVALIDARG);
    }
    m_blob->SetPart(m_index, form + kHeaderSize, partLength);
}

} // namespace KRVN

#include "config/bv_value.h"

#include <cstring>

namespace KRVN {

WString CBVValue::GetName() const {
    return KRVN_WTEXT("BVValue");
}

void CBVValue::SetRaw(const void* bytes, std::size_t length) {
    m_vector->Assign(bytes, length);
}

std::size_t CBVValue::GetRaw(void* buffer, std::size_t size) const {
    const std::size_t count = size < m_vector->Size() ? size : m_vector->Size();
    if (count != 0) {
        std::memcpy(buffer, m_vector->Data(), count);
    }
    return count;
}

} // namespace KRVN

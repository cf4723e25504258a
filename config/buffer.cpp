#include "config/buffer.h"

#include "config/alloc.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace KRVN {

CBuffer::CBuffer(std::size_t length) {
    CAlloc::Resize(m_data, m_length, length);
}

CBuffer::CBuffer(const void* bytes, std::size_t length) {
    Assign(bytes, length);
}

CBuffer::CBuffer(const CBuffer& other) {
    Assign(other.m_data, other.m_length);
}

CBuffer::CBuffer(CBuffer&& other) noexcept {
    Swap(other);
}

CBuffer& CBuffer::operator=(const CBuffer& other) {
    if (this != &other) {
        Assign(other.m_data, other.m_length);
    }
    return *this;
}

CBuffer& CBuffer::operator=(CBuffer&& other) noexcept {
    if (this != &other) {
        CBuffer dropped(std::move(other));
        Swap(dropped);
    }
    return *this;
}

CBuffer::~CBuffer() {
    CAlloc::Free(m_data, m_length);
}

void CBuffer::Resize(std::size_t length) {
    CAlloc::Resize(m_data, m_length, length);
}

void CBuffer::Assign(const void* bytes, std::size_t length) {
    if (length != 0 && Holds(bytes, length)) {
        CBuffer copy(bytes, length);
        Swap(copy);
        return;
    }
    Resize(length);
    if (length == 0) {
        return;
    }
    if (bytes != nullptr) {
        std::memcpy(m_data, bytes, length);
    } else {
        std::memset(m_data, 0, length);
    }
}

void CBuffer::Swap(CBuffer& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_length, other.m_length);
}

bool CBuffer::Holds(const void* bytes, std::size_t length) const noexcept {
    if (bytes == nullptr || m_data == nullptr || length == 0) {
        return false;
    }
    const auto begin = reinterpret_cast<std::uintptr_t>(bytes);
    const auto own = reinterpret_cast<std::uintptr_t>(m_data);
    return begin < own + m_length && own < begin + length;
}

bool CBuffer::operator==(const CBuffer& other) const noexcept {
    return m_length == other.m_length &&
           (m_length == 0 || std::memcmp(m_data, other.m_data, m_length) == 0);
}

} // namespace KRVN

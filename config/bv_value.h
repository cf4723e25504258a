#pragma once
// A typed value whose serialized form fills a byte vector owned by the
// caller; the vector must outlive the value.

#include "config/buffer.h"
#include "config/value.h"

namespace KRVN {

class CBVValue : public CValue {
public:
    explicit CBVValue(CBuffer* vector) noexcept : m_vector(vector) {}

    WString GetName() const override;
    // Values kept in a vector have no name of their own.
    void SetName(const WString&) override {}
    void SetRaw(const void* bytes, std::size_t length) override;
    // Returns the number of bytes copied.
    std::size_t GetRaw(void* buffer, std::size_t size) const override;
    std::size_t GetRawSize() const override { return m_vector->Size(); }

private:
    CBuffer* m_vector;
};

} // namespace KRVN

#pragma once
// Owner of one VARIANT: cleared (releasing what it holds) when the owner dies.

#include <windows.h>
#include <oleauto.h>

namespace KRVN {

class unique_variant {
public:
    unique_variant() noexcept { ::VariantInit(&m_value); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    unique_variant(unique_variant&& other) noexcept : m_value(other.release()) {}
    unique_variant& operator=(unique_variant&& other) noexcept {
        if (this != &other) {
            reset();
            m_value = other.release();
        }
        return *this;
    }
    ~unique_variant() { reset(); }

    const VARIANT& get() const noexcept { return m_value; }
    VARTYPE type() const noexcept { return V_VT(&m_value); }

    void reset() noexcept { ::VariantClear(&m_value); }
    // For functions that fill a VARIANT through an out parameter.
    VARIANT* put() noexcept {
        reset();
        return &m_value;
    }
    // Hands the contents to the caller (for an [out] VARIANT parameter).
    [[nodiscard]] VARIANT release() noexcept {
        VARIANT out = m_value;
        ::VariantInit(&m_value);
        return out;
    }

    // A copy for an [out] parameter (references held inside are added).
    HRESULT copy_to(VARIANT* out) const noexcept {
        if (!out) {
            return E_POINTER;
        }
        ::VariantInit(out);
        // VariantCopy only reads its source; the header just lacks the const.
        return ::VariantCopy(out, const_cast<VARIANT*>(&m_value));
    }

private:
    VARIANT m_value;
};

} // namespace KRVN

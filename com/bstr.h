#pragma once
// Owner of one BSTR.

#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <utility>

#include "common/ca_exception.h"

namespace KRVN {

// True for a string with a zero character before its end. Whoever reads it
// as a C string would see less than was sent, so inputs refuse it.
inline bool HasEmbeddedZero(BSTR text) noexcept {
    const UINT length = ::SysStringLen(text);
    return text && ::wcsnlen(text, length) < length;
}

class unique_bstr {
public:
    unique_bstr() noexcept = default;
    // A copy of text up to its first zero character; null stays null.
    // Raises CAException(E_OUTOFMEMORY) when the copy cannot be made.
    explicit unique_bstr(const wchar_t* text) : m_bstr(text ? ::SysAllocString(text) : nullptr) {
        if (text && !m_bstr) {
            KRVN_RAISE(E_OUTOFMEMORY);
        }
    }
    unique_bstr(const unique_bstr&) = delete;
    unique_bstr& operator=(const unique_bstr&) = delete;
    unique_bstr(unique_bstr&& other) noexcept : m_bstr(other.release()) {}
    unique_bstr& operator=(unique_bstr&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~unique_bstr() { reset(); }

    BSTR get() const noexcept { return m_bstr; }
    explicit operator bool() const noexcept { return m_bstr != nullptr; }
    // Characters held, embedded zeros included; 0 for null.
    UINT length() const noexcept { return ::SysStringLen(m_bstr); }

    void reset(BSTR value = nullptr) noexcept {
        if (BSTR old = std::exchange(m_bstr, value)) {
            ::SysFreeString(old);
        }
    }
    [[nodiscard]] BSTR release() noexcept { return std::exchange(m_bstr, nullptr); }
    // For functions that return a new BSTR through an out parameter.
    BSTR* put() noexcept {
        reset();
        return &m_bstr;
    }

    // An exact copy (all characters, embedded zeros included); null stays null.
    unique_bstr copy() const {
        unique_bstr result;
        const HRESULT hr = copy_to(result.put());
        if (FAILED(hr)) {
            KRVN_RAISE(hr);
        }
        return result;
    }

    // Fills an [out] BSTR parameter with an exact copy; null stays null.
    HRESULT copy_to(BSTR* out) const noexcept {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        if (m_bstr) {
            *out = ::SysAllocStringLen(m_bstr, length());
            if (!*out) {
                return E_OUTOFMEMORY;
            }
        }
        return S_OK;
    }

private:
    BSTR m_bstr = nullptr;
};

} // namespace KRVN

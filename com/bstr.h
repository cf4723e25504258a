#pragma once
// Owner of one BSTR.

#include <windows.h>
#include <oleauto.h>

#include <cwchar>

#include "common/ca_exception.h"
#include "common/unique_handle.h"

namespace KRVN {

// True for a string with a zero character before its end. Whoever reads it
// as a C string would see less than was sent, so inputs refuse it.
inline bool HasEmbeddedZero(BSTR text) noexcept {
    const UINT length = ::SysStringLen(text);
    return text && ::wcsnlen(text, length) < length;
}

class unique_bstr : public unique_any<close_with<BSTR, ::SysFreeString>> {
public:
    unique_bstr() noexcept = default;
    // A copy of text up to its first zero character; null stays null.
    // Raises CAException(E_OUTOFMEMORY) when the copy cannot be made.
    explicit unique_bstr(const wchar_t* text)
        : unique_any(text ? ::SysAllocString(text) : nullptr) {
        if (text && !get()) {
            KRVN_RAISE(E_OUTOFMEMORY);
        }
    }

    // Characters held, embedded zeros included; 0 for null.
    UINT length() const noexcept { return ::SysStringLen(get()); }

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
        if (get()) {
            *out = ::SysAllocStringLen(get(), length());
            if (!*out) {
                return E_OUTOFMEMORY;
            }
        }
        return S_OK;
    }
};

} // namespace KRVN

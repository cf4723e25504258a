#pragma once
// Membership of the calling thread in a COM apartment, left when the owner dies.

#include <windows.h>
#include <objbase.h>

namespace KRVN {

class unique_couninitialize {
public:
    // Joins the apartment; result() tells whether it worked. A thread that is
    // already in that apartment joins again (S_FALSE) and leaves once more.
    explicit unique_couninitialize(DWORD coinit = COINIT_MULTITHREADED) noexcept
        : m_result(::CoInitializeEx(nullptr, coinit)) {}
    unique_couninitialize(const unique_couninitialize&) = delete;
    unique_couninitialize& operator=(const unique_couninitialize&) = delete;
    ~unique_couninitialize() {
        if (SUCCEEDED(m_result)) {
            ::CoUninitialize();
        }
    }

    HRESULT result() const noexcept { return m_result; }
    explicit operator bool() const noexcept { return SUCCEEDED(m_result); }

private:
    HRESULT m_result;
};

} // namespace KRVN

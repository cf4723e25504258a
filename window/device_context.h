#pragma once
// A window's device context with one object selected into it, both given
// back when the scope ends.

#include <windows.h>

namespace KRVN {

class CClientDC {
public:
    explicit CClientDC(HWND window) noexcept : m_window(window), m_dc(::GetDC(window)) {}
    CClientDC(const CClientDC&) = delete;
    CClientDC& operator=(const CClientDC&) = delete;
    ~CClientDC() {
        if (m_dc) {
            ::ReleaseDC(m_window, m_dc);
        }
    }

    HDC get() const noexcept { return m_dc; }
    explicit operator bool() const noexcept { return m_dc != nullptr; }

private:
    HWND m_window;
    HDC m_dc;
};

class CSelectObject {
public:
    CSelectObject(HDC dc, HGDIOBJ object) noexcept
        : m_dc(dc), m_previous(object ? ::SelectObject(dc, object) : nullptr) {}
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;
    ~CSelectObject() {
        if (m_previous) {
            ::SelectObject(m_dc, m_previous);
        }
    }

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

} // namespace KRVN

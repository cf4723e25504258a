#pragma once
// Shows the wait cursor for one scope and puts the previous cursor back.

#include <windows.h>

namespace KRVN {

class CWaitCursor {
public:
    CWaitCursor() noexcept : m_previous(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    ~CWaitCursor() { ::SetCursor(m_previous); }

private:
    HCURSOR m_previous;
};

} // namespace KRVN

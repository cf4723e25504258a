#include "window/app_module.h"

#include <commctrl.h>

namespace KRVN {

bool CAppModule::InitModule() {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    return ::InitCommonControlsEx(&controls) != FALSE;
}

bool CAppModule::AddMessageLoop(CMessageLoop* loop) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_loops.emplace(::GetCurrentThreadId(), loop).second;
}

bool CAppModule::RemoveMessageLoop() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_loops.erase(::GetCurrentThreadId()) != 0;
}

CMessageLoop* CAppModule::GetMessageLoop(DWORD threadId) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_loops.find(threadId);
    return found == m_loops.end() ? nullptr : found->second;
}

} // namespace KRVN

#pragma once
// The test's IChangeIconEvents sink: a free-threaded COM object that keeps
// every ChangeIcon call the service makes, for the test to wait on.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "com/com_object.h"
#include "com/interface_map.h"
#include "contract/TolvaneLib.h"

namespace krvn_e2e {

struct ChangeIconCall {
    LONG state;
    std::wstring addresses;
    ULONGLONG tick; // GetTickCount64 when it arrived
};

class ChangeIconRecorder : public IChangeIconEvents {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IChangeIconEvents>>;

    HRESULT STDMETHODCALLTYPE ChangeIcon(eConnectState state, BSTR addresses) override {
        std::lock_guard<std::mutex> hold(m_lock);
        m_calls.push_back({state, addresses ? addresses : L"", ::GetTickCount64()});
        m_changed.notify_all();
        return S_OK;
    }

    // The first call from index on that satisfies match, within timeoutMs.
    bool WaitFor(size_t from, const std::function<bool(const ChangeIconCall&)>& match,
                 DWORD timeoutMs, ChangeIconCall* found = nullptr) {
        std::unique_lock<std::mutex> hold(m_lock);
        size_t next = from;
        return m_changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
            for (; next < m_calls.size(); ++next) {
                if (match(m_calls[next])) {
                    if (found) {
                        *found = m_calls[next];
                    }
                    return true;
                }
            }
            return false;
        });
    }

    size_t Count() {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_calls.size();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<ChangeIconCall> m_calls;
};

} // namespace krvn_e2e

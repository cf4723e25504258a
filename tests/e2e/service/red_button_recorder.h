#pragma once
// The test's IRedButtonEvents sink: a free-threaded COM object that counts
// the presses the service forwards.

#include <windows.h>

#include <atomic>

#include "com/com_object.h"
#include "com/interface_map.h"
#include "contract/TolvaneLib.h"
#include "tests/support/wait.h"

namespace krvn_e2e {

class RedButtonRecorder : public IRedButtonEvents {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IRedButtonEvents>>;

    HRESULT STDMETHODCALLTYPE RedButtonPressed() override {
        ++m_presses;
        return S_OK;
    }

    long Presses() const { return m_presses.load(); }

    bool WaitForPresses(long count, DWORD timeoutMs) const {
        return krvn_test::WaitUntil([&] { return m_presses.load() >= count; }, timeoutMs);
    }

private:
    std::atomic<long> m_presses{0};
};

} // namespace krvn_e2e

// A client of the service that takes the red button for itself and then just
// lives: QNAlarm with a red-button sink and a change-icon sink. It sets the
// event named on its command line once both are advised, and ends by itself
// after the lifetime in seconds (the test kills it sooner).
//
// sink_client EVENT_NAME LIFETIME_SECONDS [FORWARD [PRESS_SECONDS]]
//
// FORWARD is given to SetSendRedButtonCallback (default 1: presses come to
// the sink); the sink takes PRESS_SECONDS (default 0) to answer each press.

#include <windows.h>
#include <objbase.h>

#include <cwchar>

#include "com/com_object.h"
#include "com/com_ptr.h"
#include "com/interface_map.h"
#include "com/unique_couninitialize.h"
#include "common/unique_handle.h"
#include "contract/TolvaneLib.h"
#include "tests/e2e/service/change_icon_recorder.h"
#include "tests/support/wait.h"

namespace {

class SlowSink : public IRedButtonEvents {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IRedButtonEvents>>;

    explicit SlowSink(DWORD pressMs) : m_pressMs(pressMs) {}

    HRESULT STDMETHODCALLTYPE RedButtonPressed() override {
        krvn_test::PauseFor(m_pressMs);
        return S_OK;
    }

private:
    const DWORD m_pressMs;
};

DWORD Number(int argc, wchar_t** argv, int index, DWORD absent) {
    return index < argc ? static_cast<DWORD>(std::wcstoul(argv[index], nullptr, 10)) : absent;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 5) {
        return 2;
    }
    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                           RPC_C_IMP_LEVEL_DELEGATE, nullptr, EOAC_NONE, nullptr);
    KRVN::com_ptr<IEstablishCommunications> communications;
    if (FAILED(::CoCreateInstance(CLSID_QNAlarm, nullptr, CLSCTX_LOCAL_SERVER,
                                  __uuidof(IEstablishCommunications), communications.put_void()))) {
        return 3;
    }
    const auto presses = KRVN::com::ComObject<SlowSink>::Make(Number(argc, argv, 4, 0) * 1000);
    const auto icons = KRVN::com::ComObject<krvn_e2e::ChangeIconRecorder>::Make();
    if (FAILED(communications->Advise(presses.get())) ||
        FAILED(communications->SetSendRedButtonCallback(
            static_cast<LONG>(Number(argc, argv, 3, 1)))) ||
        FAILED(communications->AdviseChangeIcon(icons.get()))) {
        return 4;
    }
    KRVN::unique_handle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]));
    if (!ready || !::SetEvent(ready.get())) {
        return 5;
    }
    krvn_test::PauseFor(Number(argc, argv, 2, 0) * 1000);
    return 0;
}

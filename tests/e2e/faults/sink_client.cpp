// A client of the service that takes the red button for itself and then just
// lives: QNAlarm with a red-button sink (presses forwarded) and a change-icon
// sink. It sets the event named on its command line once both are advised,
// and ends by itself after the lifetime in seconds (the test kills it sooner).
//
// sink_client EVENT_NAME LIFETIME_SECONDS

#include <windows.h>
#include <objbase.h>

#include <cwchar>

#include "com/com_object.h"
#include "com/com_ptr.h"
#include "com/unique_couninitialize.h"
#include "common/unique_handle.h"
#include "tests/e2e/service/change_icon_recorder.h"
#include "tests/e2e/service/red_button_recorder.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
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
    const auto presses = KRVN::com::ComObject<krvn_e2e::RedButtonRecorder>::Make();
    const auto icons = KRVN::com::ComObject<krvn_e2e::ChangeIconRecorder>::Make();
    if (FAILED(communications->Advise(presses.get())) ||
        FAILED(communications->SetSendRedButtonCallback(1)) ||
        FAILED(communications->AdviseChangeIcon(icons.get()))) {
        return 4;
    }
    KRVN::unique_handle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]));
    if (!ready || !::SetEvent(ready.get())) {
        return 5;
    }
    ::Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)) * 1000);
    return 0;
}

#include "alarm_ui/alarm_program.h"

#include <objbase.h>

#include <memory>

#include "alarm_ui/app_strings.h"
#include "alarm_ui/service_stop_watch.h"
#include "alarm_ui/shell_icon.h"
#include "alarm_ui/tray_app.h"
#include "com/unique_couninitialize.h"
#include "window/message_loop.h"

namespace {

// A running instance that shows its settings dialog brings it forward; one
// that sits only in the notification area has no such window.
void BringRunningInstanceForward() {
    if (const HWND dialog = ::FindWindowW(kDialogClass, kAppTitle)) {
        ::SetForegroundWindow(dialog);
        ::ShowWindow(dialog, SW_SHOWNORMAL);
    }
}

} // namespace

int RunAlarmProgram(SingleInstance::CreateEventFunction createRunningEvent) {
    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    // Callbacks from the service must get through without authentication;
    // the result does not matter (a host may have set security already).
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                           RPC_C_IMP_LEVEL_DELEGATE, nullptr, EOAC_NONE, nullptr);

    CTrayApp app;
    if (!app.Init()) {
        return -1;
    }
    KRVN::CMessageLoop loop;
    app.AddMessageLoop(&loop);

    auto running = std::make_unique<SingleInstance>(createRunningEvent);
    if (running->AnotherRuns()) {
        BringRunningInstanceForward();
        app.RemoveMessageLoop();
        return 1;
    }

    // The service makes its close request once it runs, so it is looked
    // for only now that its objects exist. Closing then is "&Выйти": it
    // also ends every modal loop (dialogs, message boxes) on its way out.
    std::unique_ptr<ShellIcon> icon;
    const ServiceStopWatch stopWatch(app.ResourceInstance(), [&icon] {
        if (icon) {
            icon->Exit();
        } else {
            ::PostQuitMessage(0);
        }
    });
    icon = std::make_unique<ShellIcon>(app);
    const int exitCode = icon->Init() ? app.GetMessageLoop()->Run() : 0;

    // Shutdown in this order; the service objects go with `app`, servers
    // first, and the apartment last.
    app.RemoveMessageLoop();
    icon.reset();
    running.reset();
    return exitCode;
}

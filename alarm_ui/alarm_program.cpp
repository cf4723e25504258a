#include "alarm_ui/alarm_program.h"

#include <objbase.h>

#include <memory>

#include "alarm_ui/app_strings.h"
#include "alarm_ui/callback_security.h"
#include "alarm_ui/hand_over.h"
#include "alarm_ui/message_boxes.h"
#include "alarm_ui/resource.h"
#include "alarm_ui/service_stop_watch.h"
#include "alarm_ui/shell_icon.h"
#include "alarm_ui/tray_app.h"
#include "com/unique_couninitialize.h"
#include "window/message_loop.h"

namespace {

// How long an elevated instance waits for the one it takes over from to
// shut down (its state subscription goes back to the service on the way).
constexpr DWORD kLetGoBoundMs = 15000;

// A running instance that shows its settings dialog brings it forward; one
// that sits only in the notification area has no such window.
void BringRunningInstanceForward() {
    if (const HWND dialog = ::FindWindowW(kDialogClass, kAppTitle)) {
        ::SetForegroundWindow(dialog);
        ::ShowWindow(dialog, SW_SHOWNORMAL);
    }
}

} // namespace

int RunAlarmProgram(SingleInstance::CreateEventFunction createRunningEvent,
                    ElevationCalls elevation) {
    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    // Before any interface crosses to the service. Without it the callbacks
    // would take calls from anyone, so the program does not run. A host
    // that has set the process's security already keeps its own.
    const HRESULT security = InitializeCallbackSecurity();
    if (FAILED(security) && security != RPC_E_TOO_LATE) {
        ShowCodeBox(nullptr, IDS_INIT_FAILED, security, MB_ICONERROR);
        return -1;
    }

    CTrayApp app;
    if (!app.Init()) {
        return -1;
    }
    KRVN::CMessageLoop loop;
    app.AddMessageLoop(&loop);

    // A second start ends, unless it is the elevated instance that the
    // running one started to take its place.
    auto running = std::make_unique<SingleInstance>(createRunningEvent);
    if (running->AnotherRuns() && !HandOver::TakeOver(kLetGoBoundMs)) {
        BringRunningInstanceForward();
        app.RemoveMessageLoop();
        return 1;
    }

    // The service makes its close request once it runs, so it is looked
    // for only now that its objects exist. Closing then is "&Выйти": it
    // also ends every modal loop (dialogs, message boxes) on its way out;
    // so is handing over to an elevated instance.
    std::unique_ptr<ShellIcon> icon;
    const auto exit = [&icon] {
        if (icon) {
            icon->Exit();
        } else {
            ::PostQuitMessage(0);
        }
    };
    const ServiceStopWatch stopWatch(app.ResourceInstance(), exit);
    ElevatedRestart restart(app.ResourceInstance(), exit, elevation);
    app.SetElevation(&restart);
    icon = std::make_unique<ShellIcon>(app);
    const int exitCode = icon->Init() ? app.GetMessageLoop()->Run() : 0;

    // Shutdown in this order; the service objects go with `app`, servers
    // first, and the apartment last. An elevated instance that took over
    // subscribes only once ours is withdrawn.
    app.RemoveMessageLoop();
    icon.reset();
    running.reset();
    app.SetElevation(nullptr);
    restart.LetGo();
    return exitCode;
}

#include "alarm_ui/port_change.h"

#include <string>

#include "alarm_ui/check_red_button_dlg.h"
#include "alarm_ui/co_sink.h"
#include "alarm_ui/error_text.h"
#include "alarm_ui/failed_call_report.h"
#include "alarm_ui/format_text.h"
#include "alarm_ui/message_boxes.h"
#include "alarm_ui/resource.h"
#include "alarm_ui/tray_app.h"
#include "com/bstr.h"

namespace {

// Lets our worker give up the port before the service opens it.
constexpr DWORD kPortHandOverMs = 500;

// The sink lives for the whole run: a report that races with Unadvise may
// still arrive after the procedure has ended, and must land on a live object.
CCoSink& RedButtonSink() {
    static CCoSink sink;
    return sink;
}

} // namespace

void ChangeRedButtonPort(CTrayApp& app, HWND settingsDialog) {
    const auto alarm = app.Alarm();
    KRVN::unique_bstr current;
    HRESULT hr = alarm->get_ComPort(current.put());
    if (hr != S_OK) {
        ShowTextBox(settingsDialog, ErrorText(static_cast<DWORD>(hr)), 0, MB_ICONWARNING);
        return;
    }
    const std::wstring servicePort = BstrText(current);

    CCoSink& sink = RedButtonSink();
    const auto events = alarm.try_query<IEstablishCommunications>();
    hr = E_NOINTERFACE;
    if (events) {
        hr = events->Advise(&sink);
        events->SetSendRedButtonCallback(1);
    }
    if (hr != S_OK) {
        // Under administrators-only settings the service keeps the button
        // test from other users: the test does not open.
        ReportFailedCall(app, settingsDialog, L"IEstablishCommunications->Advise()", hr);
        return;
    }

    // A port the organisation's policy sets can be tested, not changed.
    const bool portManaged = !app.PolicyPort().empty();
    CheckRedButtonDlg dialog(events, sink, servicePort, app.SerialPorts(), portManaged);
    const INT_PTR result = dialog.DoModal(app.ResourceInstance(), ::GetActiveWindow());
    hr = events->Unadvise();
    if (hr != S_OK) {
        ShowCallError(settingsDialog, L"IEstablishCommunications->Advise()", hr, MB_ICONERROR);
    }
    // The worker has been told to stop; once it has ended the port is free.
    dialog.WaitForChecker();
    if (result != IDOK || dialog.PortUnderTest() == servicePort) {
        return;
    }
    ::Sleep(kPortHandOverMs);
    const KRVN::unique_bstr port(dialog.PortUnderTest().c_str());
    hr = alarm->put_ComPort(port.get());
    if (hr != S_OK) {
        ReportFailedCall(app, settingsDialog, L"IQNAlarm->put_ComPort()", hr);
        return;
    }
    ::SetDlgItemTextW(settingsDialog, IDC_MAIN_COM_PORT, port.get());
}

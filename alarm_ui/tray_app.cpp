#include "alarm_ui/tray_app.h"

#include "alarm_ui/message_boxes.h"
#include "alarm_ui/resource.h"
#include "alarm_ui/resource_instance.h"
#include "alarm_ui/service_objects.h"

namespace {

template <typename Interface>
bool CreateOrTell(REFCLSID clsid, const wchar_t* className, KRVN::com_ptr<Interface>& object) {
    const HRESULT hr = CreateServiceObject(clsid, object);
    if (FAILED(hr)) {
        ShowCallError(nullptr, CannotCreateObjectPrefix(className), hr, MB_ICONERROR);
        return false;
    }
    return true;
}

} // namespace

CTrayApp::~CTrayApp() {
    m_servers.reset();
    m_alarm.reset();
}

bool CTrayApp::Init() {
    if (!CreateOrTell(CLSID_QNAlarm, L"QNAlarm", m_alarm) ||
        !CreateOrTell(CLSID_QNServers, L"QNServers", m_servers)) {
        return false;
    }
    if (!InitModule()) {
        ShowCodeBox(nullptr, IDS_INIT_FAILED, HRESULT_FROM_WIN32(::GetLastError()), MB_ICONERROR);
        return false;
    }
    return true;
}

HINSTANCE CTrayApp::ResourceInstance() const {
    return ::ResourceInstance();
}

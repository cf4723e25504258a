#include "service/install_settings_switch.h"

#include "config/setting_names.h"
#include "service/event_text.h"
#include "service/install_settings_writer.h"
#include "service/prior_settings.h"
#include "service/serial_port_name.h"

namespace {

void Append(std::wstring& list, const std::wstring& item) {
    list += (list.empty() ? L"" : L", ") + item;
}

std::wstring Describe(const InstallSettings& settings) {
    std::wstring text;
    if (settings.comPort) {
        Append(text, std::wstring(KRVN::kComPortValue) + L"=" + EventText(*settings.comPort));
    }
    if (settings.adminOnly) {
        Append(text,
               std::wstring(KRVN::kAdminOnlyValue) + L"=" + std::to_wstring(*settings.adminOnly));
    }
    if (settings.checkDelay) {
        Append(text,
               std::wstring(KRVN::kCheckDelayValue) + L"=" + std::to_wstring(*settings.checkDelay));
    }
    return text;
}

std::wstring Describe(const std::vector<PriorValue>& prior) {
    std::wstring text;
    for (const PriorValue& value : prior) {
        Append(text, value.number ? value.name + L"=" + std::to_wstring(*value.number)
                     : value.text ? value.name + L"=" + EventText(*value.text)
                                  : value.name + L" removed");
    }
    return text;
}

// A registry failure as the Win32 error that ReportSwitchFailure names;
// any other HRESULT is handed on whole.
DWORD ErrorOf(HRESULT hr) {
    return HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : static_cast<DWORD>(hr);
}

} // namespace

HRESULT ApplyInstallSettings(const std::vector<std::wstring>& data, SwitchFailureOutputs& outputs,
                             const std::wstring& caption, const PortNameRule& isPortName) {
    InstallSettings settings;
    std::wstring refusal;
    if (!ParseInstallSettings(data, isPortName, settings, refusal)) {
        return ReportSwitchFailure(outputs, caption, refusal.c_str(), ERROR_INVALID_PARAMETER);
    }
    const HRESULT hr = WriteInstallSettings(settings);
    if (FAILED(hr)) {
        return ReportSwitchFailure(outputs, caption, L"Could not write the settings", ErrorOf(hr));
    }
    if (!settings.Empty()) {
        outputs.Report(
            {EventType::Information, MSG_INSTALL_SETTINGS_WRITTEN, {Describe(settings)}});
    }
    return S_OK;
}

HRESULT ApplyInstallSettings(const std::vector<std::wstring>& data, SwitchFailureOutputs& outputs,
                             const std::wstring& caption) {
    return ApplyInstallSettings(data, outputs, caption,
                                [](std::wstring_view name) { return IsSerialPortName(name); });
}

HRESULT RestoreInstallSettings(const std::vector<std::wstring>& data, SwitchFailureOutputs& outputs,
                               const std::wstring& caption) {
    std::vector<PriorValue> prior;
    std::wstring refusal;
    if (!ParsePriorSettings(data, prior, refusal)) {
        return ReportSwitchFailure(outputs, caption, refusal.c_str(), ERROR_INVALID_PARAMETER);
    }
    const HRESULT hr = RestorePriorSettings(prior);
    if (FAILED(hr)) {
        return ReportSwitchFailure(outputs, caption, L"Could not put the settings back",
                                   ErrorOf(hr));
    }
    if (!prior.empty()) {
        outputs.Report({EventType::Warning, MSG_INSTALL_SETTINGS_RESTORED, {Describe(prior)}});
    }
    return S_OK;
}

#include "service/switch_failure.h"

#include "service/system_error_text.h"

HRESULT ReportSwitchFailure(SwitchFailureOutputs& outputs, const std::wstring& caption,
                            const wchar_t* text, DWORD error) {
    const std::wstring code = std::to_wstring(error);
    const std::wstring reason = SystemErrorText(error);
    const std::wstring line = std::wstring(text) + L" (error " + code + L": " + reason + L")";
    outputs.WriteError(caption + L": " + line);
    outputs.Report({EventType::Error, MSG_SWITCH_FAILED, {text, code, reason}});
    if (outputs.IsInteractive()) {
        outputs.ShowMessageBox(caption, line);
    }
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

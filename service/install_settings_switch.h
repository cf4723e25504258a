#pragma once
// The two switches the package runs with the settings given on the msiexec
// command line, as LocalSystem in its installation script:
// - "-InstallSettings COMPORT=... ADMINONLY=... CHECKDELAY=...": every value
//   is checked before any is written; a refused one writes nothing and fails
//   the switch, so the installation ends and rolls back. What was written is
//   logged (event 70).
// - "-RestoreSettings ...": the rollback of the first, run when the
//   installation fails; it puts back what the key held (event 71).
// A failure is told as every switch tells it (service/switch_failure.h):
// standard error, event 30 and the exit code, a message box only on an
// interactive window station.

#include <windows.h>

#include <string>
#include <vector>

#include "service/install_settings.h"
#include "service/switch_failure.h"

// data: the tokens after the switch; caption: the service's name.
HRESULT ApplyInstallSettings(const std::vector<std::wstring>& data, SwitchFailureOutputs& outputs,
                             const std::wstring& caption, const PortNameRule& isPortName);
HRESULT ApplyInstallSettings(const std::vector<std::wstring>& data, SwitchFailureOutputs& outputs,
                             const std::wstring& caption);

HRESULT RestoreInstallSettings(const std::vector<std::wstring>& data, SwitchFailureOutputs& outputs,
                               const std::wstring& caption);

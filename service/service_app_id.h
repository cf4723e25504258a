#pragma once
// The AppID's part of installing the program as a service. The LocalService
// value makes COM start the program through the service manager, so it is
// written only once the service exists: otherwise every activation would
// try to start a service that is not there.

#include <windows.h>

#include <functional>
#include <string>

#include "com/registrar.h"

// Writes the AppID without LocalService, runs install, and adds
// LocalService only when install succeeded; returns the first failure.
HRESULT RegisterServiceAppId(const KRVN::com::Registrar& registrar, const std::wstring& serviceName,
                             const std::function<HRESULT()>& install);

#pragma once
// Writes the settings an installation was given into the settings key
// (HKLM\SOFTWARE\Corvane\Alarm), and puts back what it held when the
// installation fails. The key holds every disk server's password: it is made
// the service's (config/alarm_key_security.h) before anything goes in, so a
// key made here is as private as one the service makes.

#include <windows.h>

#include <vector>

#include "service/install_settings.h"
#include "service/prior_settings.h"

// Writes only what settings hold: the port through the registry store (which
// also retires the earlier layout's copy), the two numbers as REG_DWORD.
// With nothing given, the key is neither made nor touched.
HRESULT WriteInstallSettings(const InstallSettings& settings);

// Gives each value back the type and data it had, or deletes it where there
// was none. No key means nothing was written.
HRESULT RestorePriorSettings(const std::vector<PriorValue>& prior);

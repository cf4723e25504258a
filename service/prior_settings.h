#pragma once
// What the settings key held before an installation wrote the settings it
// was given, so that a failed installation can put it back (the package's
// rollback action runs "Tolvane.exe -RestoreSettings"). The package reads each
// value before anything is written (AppSearch), in the raw form of Windows
// Installer's RegLocator table: empty when there is no such value, "#n" for
// a REG_DWORD n, and a REG_SZ as its text, a leading '#' doubled.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// One value of the settings key as it was: a REG_DWORD number, a REG_SZ text,
// or neither (there was no such value).
struct PriorValue {
    std::wstring name;
    std::optional<DWORD> number;
    std::optional<std::wstring> text;
};

// The tokens are the installation's own data (COMPORT=..., ADMINONLY=...,
// CHECKDELAY=..., as -InstallSettings had them) and the raw prior value of
// each setting under its registry value's name (COM=..., ...). Only a
// setting the installation was given a value for is put back; on false,
// refusal says why and nothing is to be put back.
bool ParsePriorSettings(const std::vector<std::wstring>& tokens, std::vector<PriorValue>& prior,
                        std::wstring& refusal);

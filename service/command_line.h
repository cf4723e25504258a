#pragma once
// What the Tolvane program was asked to do by its switches: a token that
// begins with '-' or '/' names a switch when the rest of it equals the
// switch's name in any letter case ("/regserver", "-Service"). Registration
// switches win over "Service", and "Service" over "AutoStart", whatever their
// order; anything else (COM's "-Embedding" among them) leaves the program to
// run. "InstallSettings" and "RestoreSettings" count only as the first token:
// every token after them is their data, never a switch, whatever a value on
// the package's command line holds.

#include <string>
#include <vector>

enum class HostAction {
    Run,
    RegServer,
    UnregServer,
    Service,
    AutoStart,
    InstallSettings,
    RestoreSettings
};

// arguments: the tokens after the program's name.
HostAction ParseHostAction(const std::vector<std::wstring>& arguments);

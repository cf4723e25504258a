#pragma once
// Script clients run by Wine's cscript against the running service, to
// their end: the VBScript client (scripts/servers_client.vbs) and the tests'
// own scripts.

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace krvn_e2e {

// Runs the script with these commands; its lines before "SCRIPT-OK" go to
// lines. Fails when the marker is missing: a runtime error ends a script
// silently, with exit code 0.
::testing::AssertionResult RunScript(const std::wstring& commands, std::vector<std::string>& lines,
                                     DWORD timeoutMs = 60000);
// The same for another script (VBScript or JScript, by its extension), as
// the token's user when one is given.
::testing::AssertionResult RunScriptFile(const std::wstring& script, const std::wstring& arguments,
                                         std::vector<std::string>& lines, DWORD timeoutMs = 60000,
                                         HANDLE token = nullptr);

} // namespace krvn_e2e

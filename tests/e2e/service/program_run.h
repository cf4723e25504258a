#pragma once
// Runs another program of the prefix to its end, bounded in time: Tolvane's
// switches, Wine's reg, sc, net and cscript. Its output goes through a file
// (a pipe could be held open by processes it starts).

#include <windows.h>

#include <string>

#include "tests/support/environment.h"

namespace krvn_e2e {

struct ProgramResult {
    bool finished = false; // false: it was ended at the time limit (or never started)
    DWORD exitCode = 0;
    std::string output; // standard output and error together
};

// token: run as that user (CreateProcessAsUserW) instead of as this process.
ProgramResult RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 60000,
                         HANDLE token = nullptr);

using krvn_test::DosPath;
using krvn_test::Env;

} // namespace krvn_e2e

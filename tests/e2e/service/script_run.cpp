#include "tests/e2e/service/script_run.h"

#include <sstream>

#include "tests/e2e/service/program_run.h"

namespace krvn_e2e {

::testing::AssertionResult RunScript(const std::wstring& commands, std::vector<std::string>& lines,
                                     DWORD timeoutMs) {
    return RunScriptFile(KRVN_SERVERS_CLIENT, commands, lines, timeoutMs);
}

::testing::AssertionResult RunScriptFile(const std::wstring& script, const std::wstring& arguments,
                                         std::vector<std::string>& lines, DWORD timeoutMs,
                                         HANDLE token) {
    const ProgramResult run =
        RunProgram(L"cscript.exe //nologo \"" + script + L"\" " + arguments, timeoutMs, token);
    lines.clear();
    std::istringstream text(run.output);
    std::string line;
    bool completed = false;
    while (std::getline(text, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line == "SCRIPT-OK") {
            completed = true;
            break;
        }
        lines.push_back(line);
    }
    if (!run.finished || !completed) {
        return ::testing::AssertionFailure()
               << "the script did not complete (exit code " << run.exitCode << ")\n"
               << run.output;
    }
    return ::testing::AssertionSuccess();
}

} // namespace krvn_e2e

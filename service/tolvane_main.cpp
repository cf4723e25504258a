// Entry point of the Tolvane program.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "service/tolvane_module.h"

int wmain(int argc, wchar_t** argv) {
    CTolvaneModule module;
    const HRESULT result = module.WinMain(std::vector<std::wstring>(argv + 1, argv + argc));
    std::fflush(stdout);
    // The alarm manager's threads run until the process ends; it ends here,
    // before static objects that they may still use are destroyed.
    ::ExitProcess(static_cast<UINT>(result));
}

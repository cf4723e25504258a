// The test programs are COM clients as the desktop program is: the
// multithreaded apartment, and the same process-wide security, so the
// service can call their sinks back.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const HRESULT joined = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(joined)) {
        return 3;
    }
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                           RPC_C_IMP_LEVEL_DELEGATE, nullptr, EOAC_NONE, nullptr);
    const int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}

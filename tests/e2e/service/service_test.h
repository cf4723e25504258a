#pragma once
// Base of the service tests: each test starts and ends with no Tolvane
// service, no registration, no stored settings and no policy, so later tests
// start clean whatever an earlier one left.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "com/com_ptr.h"
#include "tests/e2e/service/tolvane_service.h"

namespace krvn_e2e {

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { CleanUp(); }
    void TearDown() override { CleanUp(); }

    static void CleanUp() {
        EXPECT_TRUE(StopService());
        EXPECT_TRUE(Tolvane(L"-UnregServer"));
        ClearSettings();
        ClearPolicy();
    }

    // A new object of the class in the service's process (COM starts the
    // service or the local server when it does not run).
    template <typename I> static KRVN::com_ptr<I> Create(const CLSID& clsid) {
        KRVN::com_ptr<I> object;
        const HRESULT hr =
            ::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(I), object.put_void());
        EXPECT_EQ(S_OK, hr) << "CoCreateInstance";
        return object;
    }
};

} // namespace krvn_e2e

// What the package's boot settings ask of the service manager, seen through
// the seam of its calls: Wine takes failure actions and keeps none of them,
// so the request is all there is to check.

#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "service/boot_start.h"
#include "tests/unit/service/fake_service_config.h"

namespace krvn_test {
namespace {

TEST(BootStartTest, StartsAtBootAndEveryFailureRestartsTheServiceWithinAMinute) {
    FakeServiceConfig service;
    ASSERT_TRUE(ApplyBootStart(service));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), service.startType);
    // The last action also stands for every later failure.
    ASSERT_FALSE(service.actions.empty());
    for (const SC_ACTION& action : service.actions) {
        EXPECT_EQ(SC_ACTION_RESTART, action.Type);
        EXPECT_LE(action.Delay, 60000u);
    }
    EXPECT_LE(service.actions.front().Delay, 10000u) << "the button is unwatched meanwhile";
    EXPECT_GT(service.resetSeconds, 0u) << "old failures are forgotten";
}

// A start that fails ends with SERVICE_STOPPED and an error code, which
// counts as a failure only with the flag; the flag counts only for a service
// that already has failure actions.
TEST(BootStartTest, AStopWithAnErrorAlsoRestartsTheService) {
    FakeServiceConfig service;
    ASSERT_TRUE(ApplyBootStart(service));
    EXPECT_TRUE(service.actionsOnNonCrashFailures);
    std::vector<DWORD> levels;
    for (const FakeServiceConfig::Call& call : service.calls) {
        if (call.name == "SetInfo") {
            levels.push_back(call.level);
        }
    }
    EXPECT_EQ(
        (std::vector<DWORD>{SERVICE_CONFIG_FAILURE_ACTIONS, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG}),
        levels);
}

// Before Windows Vista, and under Wine, the manager has no flag: the switch
// still gives the service its boot start and crash restarts.
TEST(BootStartTest, AManagerWithoutTheFlagIsNoFailure) {
    FakeServiceConfig service;
    service.keepsFailureActions = false;
    EXPECT_TRUE(ApplyBootStart(service));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), service.startType);
}

TEST(BootStartTest, AnyRefusedCallFailsTheSwitch) {
    for (int refused = 1; refused <= 3; ++refused) {
        FakeServiceConfig service;
        service.refuseAt = refused;
        EXPECT_FALSE(ApplyBootStart(service)) << "call " << refused;
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError()) << "call " << refused;
    }
}

} // namespace
} // namespace krvn_test

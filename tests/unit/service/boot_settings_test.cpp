// What the switch "Service" carries from an installed service to the one it
// creates in its place, through the seam of the service-manager calls: the
// fake answers the two query calls by their documented buffer protocol, and
// can keep no failure actions, as Wine does.

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "service/boot_settings.h"
#include "tests/unit/service/fake_service_config.h"

namespace krvn_test {
namespace {

// A service as an administrator, or the package, left it.
FakeServiceConfig ConfiguredService() {
    FakeServiceConfig service;
    service.startType = SERVICE_AUTO_START;
    service.resetSeconds = 3600;
    service.rebootMessage = L"";
    service.command = L"notify.cmd";
    service.actions = {{SC_ACTION_RESTART, 1000}, {SC_ACTION_RUN_COMMAND, 2000}};
    service.actionsOnNonCrashFailures = TRUE;
    return service;
}

std::vector<std::pair<int, DWORD>> Pairs(const std::vector<SC_ACTION>& actions) {
    std::vector<std::pair<int, DWORD>> pairs;
    for (const SC_ACTION& action : actions) {
        pairs.emplace_back(action.Type, action.Delay);
    }
    return pairs;
}

TEST(BootSettingsTest, ReinstallingKeepsStartTypeFailureActionsAndTheirFlag) {
    FakeServiceConfig old = ConfiguredService();
    BootSettings kept;
    ASSERT_TRUE(ReadBootSettings(old, kept));

    FakeServiceConfig created;
    ASSERT_TRUE(RestoreBootSettings(created, kept));
    EXPECT_EQ(old.startType, created.startType);
    EXPECT_EQ(old.resetSeconds, created.resetSeconds);
    EXPECT_EQ(old.command, created.command);
    EXPECT_EQ(Pairs(old.actions), Pairs(created.actions));
    EXPECT_EQ(TRUE, created.actionsOnNonCrashFailures);
    // The flag counts only for a service that already has failure actions.
    ASSERT_FALSE(created.calls.empty());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG), created.calls.back().level);
}

// Each query first asks for the size with no buffer, then hands a buffer of
// exactly that size.
TEST(BootSettingsTest, QueriesAskForTheSizeFirstAndThenHandThatMuch) {
    FakeServiceConfig old = ConfiguredService();
    BootSettings kept;
    ASSERT_TRUE(ReadBootSettings(old, kept));
    ASSERT_EQ(6u, old.calls.size());
    for (size_t i = 0; i < old.calls.size(); i += 2) {
        const FakeServiceConfig::Call& sizing = old.calls[i];
        const FakeServiceConfig::Call& reading = old.calls[i + 1];
        EXPECT_FALSE(sizing.withBuffer) << sizing.name << " " << sizing.level;
        EXPECT_EQ(0u, sizing.size);
        EXPECT_TRUE(reading.withBuffer);
        EXPECT_GT(reading.size, 0u);
        EXPECT_LE(reading.size, kMaxServiceConfigBytes);
        EXPECT_EQ(sizing.name, reading.name);
        EXPECT_EQ(sizing.level, reading.level);
    }
    EXPECT_EQ(static_cast<DWORD>(SERVICE_CONFIG_FAILURE_ACTIONS), old.calls[2].level);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG), old.calls[4].level);

    // The actions lie in the buffer after the structure.
    EXPECT_EQ(2u, kept.actions.size());
    EXPECT_EQ(L"notify.cmd", kept.command.value_or(L"none"));
}

TEST(BootSettingsTest, AServiceWithoutSettingsGivesTheNewOneNothingToChange) {
    FakeServiceConfig old;
    BootSettings kept;
    ASSERT_TRUE(ReadBootSettings(old, kept));
    FakeServiceConfig created;
    ASSERT_TRUE(RestoreBootSettings(created, kept));
    EXPECT_TRUE(created.calls.empty()) << "a first installation stays at demand start";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), created.startType);
}

TEST(BootSettingsTest, FailureActionsTheManagerDoesNotKeepLeaveTheStartType) {
    FakeServiceConfig old = ConfiguredService();
    old.keepsFailureActions = false;
    BootSettings kept;
    ASSERT_TRUE(ReadBootSettings(old, kept)) << "Wine answers ERROR_INVALID_LEVEL";
    EXPECT_TRUE(kept.actions.empty());

    FakeServiceConfig created;
    ASSERT_TRUE(RestoreBootSettings(created, kept));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), created.startType);
    EXPECT_EQ(1u, created.calls.size());
}

// Without them the switch would quietly install a service that no longer
// starts at boot.
TEST(BootSettingsTest, SettingsThatCannotBeReadOrWrittenFailTheSwitch) {
    for (int refused = 1; refused <= 6; ++refused) {
        FakeServiceConfig old = ConfiguredService();
        old.refuseAt = refused;
        BootSettings kept;
        EXPECT_FALSE(ReadBootSettings(old, kept)) << "query " << refused;
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
    }
    FakeServiceConfig old = ConfiguredService();
    BootSettings kept;
    ASSERT_TRUE(ReadBootSettings(old, kept));
    for (int refused = 1; refused <= 3; ++refused) {
        FakeServiceConfig created;
        created.refuseAt = refused;
        EXPECT_FALSE(RestoreBootSettings(created, kept)) << "change " << refused;
    }
}

} // namespace
} // namespace krvn_test

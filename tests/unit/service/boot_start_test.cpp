// What the package's boot settings ask of the service manager, seen through
// the seam of its two calls: Wine takes failure actions and keeps none of
// them, so the request is all there is to check.

#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "service/boot_start.h"

namespace krvn_test {
namespace {

// Records what each call asks for; refuses the call numbered refuseAt
// (counted from 1; 0 refuses none).
class RecordingTarget : public ServiceConfigTarget {
public:
    explicit RecordingTarget(int refuseAt = 0) : m_refuseAt(refuseAt) {}

    bool SetStartType(DWORD startType) override {
        startTypes.push_back(startType);
        return Answer();
    }

    bool SetInfo(DWORD level, void* info) override {
        levels.push_back(level);
        if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
            const auto* failure = static_cast<const SERVICE_FAILURE_ACTIONSW*>(info);
            actions.assign(failure->lpsaActions, failure->lpsaActions + failure->cActions);
            resetSeconds = failure->dwResetPeriod;
        }
        return Answer();
    }

    std::vector<DWORD> startTypes;
    std::vector<DWORD> levels;
    std::vector<SC_ACTION> actions;
    DWORD resetSeconds = 0;

private:
    bool Answer() { return ++m_calls != m_refuseAt; }

    int m_refuseAt;
    int m_calls = 0;
};

TEST(BootStartTest, StartsAtBootAndEveryFailureRestartsTheServiceWithinAMinute) {
    RecordingTarget target;
    ASSERT_TRUE(ApplyBootStart(target));
    EXPECT_EQ(std::vector<DWORD>{SERVICE_AUTO_START}, target.startTypes);
    EXPECT_EQ(std::vector<DWORD>{SERVICE_CONFIG_FAILURE_ACTIONS}, target.levels);
    // The last action also stands for every later failure.
    ASSERT_FALSE(target.actions.empty());
    for (const SC_ACTION& action : target.actions) {
        EXPECT_EQ(SC_ACTION_RESTART, action.Type);
        EXPECT_LE(action.Delay, 60000u);
    }
    EXPECT_LE(target.actions.front().Delay, 10000u) << "the button is unwatched meanwhile";
    EXPECT_GT(target.resetSeconds, 0u) << "old failures are forgotten";
}

TEST(BootStartTest, AnyRefusedCallFailsTheSwitch) {
    for (int refused = 1; refused <= 2; ++refused) {
        RecordingTarget target(refused);
        EXPECT_FALSE(ApplyBootStart(target)) << "call " << refused;
    }
}

} // namespace
} // namespace krvn_test

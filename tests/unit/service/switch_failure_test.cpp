// Where a failed switch's reason goes, through the seams of the window
// station test and of the outputs: under Wine every process is on a visible
// window station, so the silent installation's case (LocalSystem on a window
// station nobody sees) is only seen here.

#include <windows.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "service/interactive_station.h"
#include "service/service_installer.h"
#include "service/switch_failure.h"

namespace krvn_test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Answers for a window station with the given flags, recording what the
// information call was handed.
class FakeWindowStation : public WindowStationCalls {
public:
    HWINSTA ProcessWindowStation() override { return station; }

    bool ObjectInformation(HANDLE object, int index, void* info, DWORD length,
                           DWORD* needed) override {
        askedObject = object;
        askedIndex = index;
        askedLength = length;
        if (!answers) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        *needed = sizeof(USEROBJECTFLAGS);
        if (length < sizeof(USEROBJECTFLAGS)) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        *static_cast<USEROBJECTFLAGS*>(info) = USEROBJECTFLAGS{TRUE, FALSE, flags};
        return true;
    }

    HWINSTA station = reinterpret_cast<HWINSTA>(static_cast<INT_PTR>(0x44));
    DWORD flags = 0;
    bool answers = true;
    HANDLE askedObject = nullptr;
    int askedIndex = -1;
    DWORD askedLength = 0;
};

TEST(InteractiveStationTest, OnlyAVisibleWindowStationIsInteractive) {
    FakeWindowStation visible;
    visible.flags = WSF_VISIBLE;
    EXPECT_TRUE(IsInteractiveWindowStation(visible));
    // UOI_FLAGS fills a USEROBJECTFLAGS of the station the process runs on.
    EXPECT_EQ(static_cast<HANDLE>(visible.station), visible.askedObject);
    EXPECT_EQ(UOI_FLAGS, visible.askedIndex);
    EXPECT_EQ(sizeof(USEROBJECTFLAGS), visible.askedLength);

    FakeWindowStation hidden; // a service's, or msiexec's custom actions as LocalSystem
    EXPECT_FALSE(IsInteractiveWindowStation(hidden));

    FakeWindowStation unanswered;
    unanswered.flags = WSF_VISIBLE;
    unanswered.answers = false;
    EXPECT_FALSE(IsInteractiveWindowStation(unanswered));

    FakeWindowStation none;
    none.station = nullptr;
    EXPECT_FALSE(IsInteractiveWindowStation(none));
    EXPECT_EQ(-1, none.askedIndex);
}

class RecordingOutputs : public SwitchFailureOutputs {
public:
    explicit RecordingOutputs(bool interactive) : m_interactive(interactive) {}

    bool IsInteractive() override { return m_interactive; }
    void ShowMessageBox(const std::wstring& caption, const std::wstring& text) override {
        boxes.push_back(caption + L"|" + text);
    }
    void WriteError(const std::wstring& line) override { errors.push_back(line); }
    void Report(const Event& event) override { events.push_back(event); }

    std::vector<std::wstring> boxes;
    std::vector<std::wstring> errors;
    std::vector<Event> events;

private:
    bool m_interactive;
};

// The installer of a service that Wine's service manager does not have:
// configuring it fails for real.
constexpr wchar_t kAbsentService[] = L"TolvaneAbsentForTest";

TEST(SwitchFailureTest, WithoutAnInteractiveStationTheReasonGoesToStderrTheEventLogAndExitCode) {
    RecordingOutputs outputs(false);
    const HRESULT hr = ServiceInstaller(kAbsentService, outputs).ConfigureBootStart();

    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SERVICE_DOES_NOT_EXIST), hr);
    EXPECT_TRUE(outputs.boxes.empty()) << "nobody could close it";
    ASSERT_EQ(1u, outputs.errors.size());
    EXPECT_THAT(outputs.errors[0], HasSubstr(L"TolvaneAbsentForTest: Could not open service"));
    EXPECT_THAT(outputs.errors[0], HasSubstr(L"1060"));
    ASSERT_EQ(1u, outputs.events.size());
    const Event& event = outputs.events[0];
    EXPECT_EQ(EventType::Error, event.type);
    EXPECT_EQ(static_cast<DWORD>(MSG_SWITCH_FAILED), event.id);
    ASSERT_EQ(3u, event.inserts.size());
    EXPECT_EQ(L"Could not open service", event.inserts[0]);
    EXPECT_EQ(L"1060", event.inserts[1]);
    EXPECT_FALSE(event.inserts[2].empty()) << "the system's text for it";
}

TEST(SwitchFailureTest, OnAnInteractiveStationTheBoxIsShownToo) {
    RecordingOutputs outputs(true);
    const HRESULT hr =
        ReportSwitchFailure(outputs, L"Tolvane", L"Could not delete service", ERROR_ACCESS_DENIED);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), hr);
    ASSERT_EQ(1u, outputs.boxes.size());
    EXPECT_THAT(outputs.boxes[0], HasSubstr(L"Tolvane|Could not delete service (error 5"));
    EXPECT_EQ(1u, outputs.errors.size());
    EXPECT_EQ(1u, outputs.events.size());
}

} // namespace
} // namespace krvn_test

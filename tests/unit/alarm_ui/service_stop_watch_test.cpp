// The watch for the service's close request, on an event of the test's own
// that the watch is handed instead of the service's.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "alarm_ui/service_stop_watch.h"
#include "common/unique_handle.h"
#include "contract/desktop_program.h"
#include "tests/support/wait.h"

namespace {

// What the watch asked OpenEventW for, and the event that stands for the
// service's.
HANDLE standIn = nullptr;
std::wstring openedName;
DWORD openedAccess = 0;
BOOL openedInheritable = TRUE;

HANDLE WINAPI OpenStandIn(DWORD access, BOOL inheritable, LPCWSTR name) {
    openedName = name;
    openedAccess = access;
    openedInheritable = inheritable;
    // The handle gets just the access asked for, as the service's DACL would
    // give an interactive user nothing more.
    HANDLE handle = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), standIn, ::GetCurrentProcess(), &handle, access,
                      inheritable, 0);
    return handle;
}

// The messages waiting now (a bounded number: a watch that kept posting
// must not hold the test here).
void DispatchWaiting() {
    MSG msg;
    for (int i = 0; i < 1000 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        ::DispatchMessageW(&msg);
    }
}

TEST(ServiceStopWatchTest, WaitsOnlyAndClosesOnceOnTheMainThread) {
    const KRVN::unique_handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    standIn = event.get();
    int closes = 0;
    DWORD closingThread = 0;
    const ServiceStopWatch watch(
        ::GetModuleHandleW(nullptr),
        [&] {
            ++closes;
            closingThread = ::GetCurrentThreadId();
        },
        &OpenStandIn);
    EXPECT_EQ(openedName, KRVN::contract::kDesktopCloseEventName);
    EXPECT_EQ(openedAccess, static_cast<DWORD>(SYNCHRONIZE));
    EXPECT_FALSE(openedInheritable);
    ASSERT_TRUE(watch.Watching());

    krvn_test::QuietFor(200);
    DispatchWaiting();
    EXPECT_EQ(closes, 0);

    ::SetEvent(event.get());
    EXPECT_TRUE(krvn_test::WaitUntil([&] {
        DispatchWaiting();
        return closes > 0;
    }));
    EXPECT_EQ(closingThread, ::GetCurrentThreadId());
    // The event stays set; one request is all that comes of it.
    krvn_test::QuietFor(300);
    DispatchWaiting();
    EXPECT_EQ(closes, 1);
}

} // namespace

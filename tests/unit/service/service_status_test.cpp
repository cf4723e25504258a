// What the service tells the service manager, seen through the seam of
// SetServiceStatus: the documented shape of each report, and the last event
// written before the report after which the process may be ended.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/service_status.h"

namespace krvn_test {
namespace {

// Reports and events in the order they happened.
std::vector<SERVICE_STATUS> g_reports;
std::vector<std::string> g_order;

BOOL WINAPI RecordStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
    g_reports.push_back(*status);
    g_order.push_back("status " + std::to_string(status->dwCurrentState));
    return TRUE;
}

class OrderRecorder : public EventReporter {
public:
    void Report(const Event& event) override {
        g_order.push_back("event " + std::to_string(event.id));
    }
};

TEST(ServiceStatusTest, ReportsHaveTheDocumentedShapeAndTheLastEventComesBeforeStopped) {
    g_reports.clear();
    g_order.clear();
    ServiceStatus status(&RecordStatus);
    status.ReportPending(SERVICE_START_PENDING, 10000);
    status.ReportPending(SERVICE_START_PENDING, 10000);
    status.ReportRunning();
    status.ReportPending(SERVICE_STOP_PENDING, 5000);
    OrderRecorder log;
    status.ReportStopped(E_FAIL, log, {EventType::Information, MSG_SERVICE_STOPPED, {}});

    ASSERT_EQ(5u, g_reports.size());
    for (const SERVICE_STATUS& report : g_reports) {
        EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), report.dwServiceType);
    }
    // No control reaches a service that is still starting; a pending state
    // carries a growing check point and a wait hint.
    EXPECT_EQ(0u, g_reports[0].dwControlsAccepted);
    EXPECT_EQ(1u, g_reports[0].dwCheckPoint);
    EXPECT_EQ(10000u, g_reports[0].dwWaitHint);
    EXPECT_EQ(2u, g_reports[1].dwCheckPoint);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP), g_reports[2].dwControlsAccepted);
    EXPECT_EQ(0u, g_reports[2].dwCheckPoint);
    EXPECT_EQ(0u, g_reports[2].dwWaitHint);
    EXPECT_EQ(1u, g_reports[3].dwCheckPoint);
    EXPECT_EQ(5000u, g_reports[3].dwWaitHint);
    EXPECT_EQ(0u, g_reports[4].dwCheckPoint);
    EXPECT_EQ(0u, g_reports[4].dwControlsAccepted);
    // An HRESULT is no Win32 code: it travels as the service's own.
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR), g_reports[4].dwWin32ExitCode);
    EXPECT_EQ(static_cast<DWORD>(E_FAIL), g_reports[4].dwServiceSpecificExitCode);
    EXPECT_EQ(
        (std::vector<std::string>{"status 2", "status 2", "status 4", "status 3",
                                  "event " + std::to_string(MSG_SERVICE_STOPPED), "status 1"}),
        g_order);
}

TEST(ServiceStatusTest, ExitCodesKeepWin32CodesAndCarryOtherFailuresAsTheServicesOwn) {
    struct Case {
        HRESULT result;
        DWORD win32;
        DWORD specific;
    };
    for (const Case& c :
         {Case{S_OK, NO_ERROR, 0}, Case{S_FALSE, NO_ERROR, 0},
          Case{HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED, 0},
          Case{HRESULT_FROM_WIN32(ERROR_BAD_DESCRIPTOR_FORMAT), ERROR_BAD_DESCRIPTOR_FORMAT, 0},
          Case{RPC_E_TOO_LATE, ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(RPC_E_TOO_LATE)}}) {
        DWORD win32 = 1;
        DWORD specific = 1;
        ServiceStatus::ExitCodes(c.result, win32, specific);
        EXPECT_EQ(c.win32, win32) << std::hex << c.result;
        EXPECT_EQ(c.specific, specific) << std::hex << c.result;
    }
}

} // namespace
} // namespace krvn_test

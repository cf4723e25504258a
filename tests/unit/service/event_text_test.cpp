// An alarm pass's events of servers whose addresses hold control
// characters: none gets into an event as it is, so none forges a line.

#include <gtest/gtest.h>

#include <vector>

#include "service/alarm_pass_events.h"

namespace krvn_test {
namespace {

class CollectingReporter : public EventReporter {
public:
    void Report(const Event& event) override { events.push_back(event); }

    std::vector<Event> events;
};

TEST(EventTextTest, ControlCharactersInAddressesAreEscapedAndOtherTextKept) {
    CollectingReporter reporter;
    AlarmPassRecord pass{L"1", AlarmSource::Button(L"COM1\n"), {}, {}, 5};
    pass.orders.push_back({L"a\r\nAlarm 9 finished", true, 0, AlarmTransport::Tcp, 1});
    pass.orders.push_back(
        {std::wstring(L"b\t\x7F\x85\x2028\0c", 7), true, 1460, AlarmTransport::Rpc, 2});
    pass.orders.push_back({L"сервер-1.example", false, 0, AlarmTransport::Tcp, 3});
    ReportAlarmPass(reporter, pass);
    ASSERT_EQ(5u, reporter.events.size());
    EXPECT_EQ(L"COM1<U+000A>", reporter.events[0].inserts[1]);
    EXPECT_EQ(L"a<U+000D><U+000A>Alarm 9 finished", reporter.events[1].inserts[1]);
    EXPECT_EQ(L"b<U+0009><U+007F><U+0085><U+2028><U+0000>c", reporter.events[2].inserts[1]);
    EXPECT_EQ(L"сервер-1.example", reporter.events[3].inserts[1]);
}

} // namespace
} // namespace krvn_test

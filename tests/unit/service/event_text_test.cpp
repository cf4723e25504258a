// Texts from outside the service in its events: no control character gets
// into an event as it is, so none can forge a line of its own.

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "service/alarm_pass_events.h"
#include "service/event_text.h"

namespace krvn_test {
namespace {

class CollectingReporter : public EventReporter {
public:
    void Report(const Event& event) override { events.push_back(event); }

    std::vector<Event> events;
};

TEST(EventTextTest, ControlCharactersAreEscapedAndEverythingElseKept) {
    static const wchar_t kForged[] = L"srv\r\nAlarm 9 finished\t\x7F\x85\x2028 x\0y";
    const std::wstring forged(kForged, std::size(kForged) - 1);
    EXPECT_EQ(L"srv<U+000D><U+000A>Alarm 9 finished<U+0009><U+007F><U+0085><U+2028> "
              L"x<U+0000>y",
              EventText(forged));
    for (const wchar_t* plain : {L"", L"192.0.2.10", L"\\\\.\\COM12", L"сервер-1.example"}) {
        EXPECT_EQ(plain, EventText(plain));
    }

    // A pass's events of a server whose address holds a line break.
    CollectingReporter reporter;
    AlarmPassRecord pass{L"1", AlarmSource::Button(L"COM1\n"), {}, {}, 5};
    pass.orders.push_back({L"a\r\nb", true, 0, AlarmTransport::Tcp, 1});
    pass.orders.push_back({L"c\nd", true, 1460, AlarmTransport::Rpc, 2});
    pass.orders.push_back({L"e\rf", false, 0, AlarmTransport::Tcp, 3});
    ReportAlarmPass(reporter, pass);
    ASSERT_EQ(5u, reporter.events.size());
    for (const Event& event : reporter.events) {
        for (const std::wstring& insert : event.inserts) {
            if (insert.find_first_of(L"\r\n") != std::wstring::npos) {
                ADD_FAILURE() << "event " << event.id << " carries a line break";
            }
        }
    }
    EXPECT_EQ(L"COM1<U+000A>", reporter.events[0].inserts[1]);
    EXPECT_EQ(L"a<U+000D><U+000A>b", reporter.events[1].inserts[1]);
    EXPECT_EQ(L"c<U+000A>d", reporter.events[2].inserts[1]);
    EXPECT_EQ(L"e<U+000D>f", reporter.events[3].inserts[1]);
}

} // namespace
} // namespace krvn_test

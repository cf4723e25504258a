#pragma once
// What the service core's tests share: the service's registry key kept
// clean, recording client sinks for the two callbacks, and a recording
// event reporter.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "com/com_ptr.h"
#include "com/interface_map.h"
#include "contract/TolvaneLib.h"
#include "service/event_reporter.h"
#include "tests/support/wait.h"

namespace krvn_test {

// HKLM\SOFTWARE\Corvane\Alarm, deleted when made and when destroyed.
class AlarmRegistry {
public:
    AlarmRegistry();
    ~AlarmRegistry();
    AlarmRegistry(const AlarmRegistry&) = delete;
    AlarmRegistry& operator=(const AlarmRegistry&) = delete;

    static void SetCheckDelay(DWORD seconds);
    static void DeleteComPort();
    // The stored "COM" value, or "<none>".
    static std::wstring ComPort();
    static bool HasServerList();

private:
    static void Delete();
};

struct ChangeIconCall {
    LONG state;
    std::wstring addresses;
};

// Waits for a condition on recorded calls with a time limit.
class CallRecorder {
public:
    // True once at least count calls were recorded, false after timeoutMs.
    bool WaitForCalls(size_t count, DWORD timeoutMs = 10000) const;
    size_t CallCount() const;

protected:
    void Recorded(const std::function<void()>& record);

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    size_t m_count = 0;
};

class ChangeIconRecorder : public IChangeIconEvents, public CallRecorder {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IChangeIconEvents>>;

    HRESULT STDMETHODCALLTYPE ChangeIcon(eConnectState state, BSTR addresses) override;
    std::vector<ChangeIconCall> Calls() const;
    // What each later call does once it is recorded, as a client's handler
    // would (block, call the service back).
    void DuringCall(std::function<void()> handler);

private:
    std::vector<ChangeIconCall> m_calls;
    std::function<void()> m_during;
};

class RedButtonRecorder : public IRedButtonEvents, public CallRecorder {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IRedButtonEvents>>;

    HRESULT STDMETHODCALLTYPE RedButtonPressed() override;
};

// Records the events with the given ids, or every event when none are given.
class RecordingReporter : public EventReporter, public CallRecorder {
public:
    explicit RecordingReporter(std::set<DWORD> only = {}) : m_only(std::move(only)) {}

    void Report(const Event& event) override;
    std::vector<Event> Events() const;

private:
    const std::set<DWORD> m_only;
    std::vector<Event> m_events;
};

KRVN::com_ptr<ChangeIconRecorder> MakeChangeIconRecorder();
KRVN::com_ptr<RedButtonRecorder> MakeRedButtonRecorder();

} // namespace krvn_test

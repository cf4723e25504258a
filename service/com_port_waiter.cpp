#include "service/com_port_waiter.h"

#include <cstdio>
#include <iterator>

#include "com/unique_couninitialize.h"
#include "common/serial_port_path.h"
#include "common/unique_handle.h"
#include "connections/worker_pool.h"
#include "service/client_call_result.h"
#include "service/event_text.h"
#include "service/event_reporter.h"
#include "service/system_error_text.h"
#include "service/thread_fault.h"

namespace {

constexpr wchar_t kThreadName[] = L"red-button watcher";

// Asked of a sink only to reach its process. A marshallable interface that
// no sink implements: the proxy must ask the client itself (an interface
// without a proxy may be refused on this side, dead client or not), a living
// client answers E_NOINTERFACE and a dead one's call fails.
const IID& kLivenessProbeIid = IID_IQNServers;

// Identification level at most: whatever device the name reaches, it can
// tell who the service is but never act as the service.
constexpr DWORD kOpenFlags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// The port with DTR raised (the button closes DTR onto DSR) and only DSR
// changes reported, or an empty handle and the error of the call that failed.
//
// Read and write access is asked for although the watcher does neither:
// Wine refuses every comm call on a handle opened for SYNCHRONIZE alone.
// A communications device is opened without sharing, as CreateFileW
// requires of one.
KRVN::unique_hfile OpenPort(const std::wstring& name, DWORD& error) {
    KRVN::unique_hfile port(::CreateFileW(KRVN::SerialPortPath(name).c_str(),
                                          GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          kOpenFlags, nullptr));
    if (port) {
        DCB control{};
        control.DCBlength = sizeof control;
        if (::GetCommState(port.get(), &control)) {
            control.fDtrControl = DTR_CONTROL_ENABLE;
            // The DCB's setting speaks of the line "when the device is opened";
            // the line is raised now, whatever the driver kept.
            if (::SetCommState(port.get(), &control) && ::EscapeCommFunction(port.get(), SETDTR) &&
                ::SetCommMask(port.get(), EV_DSR)) {
                return port;
            }
        }
    }
    error = ::GetLastError();
    return {};
}

// Whether a living client took a press, forwarded or to ignore: unless COM
// itself failed the call (a client that reached its handler and failed
// there keeps the press, its own business). The liveness probe's
// E_NOINTERFACE is the answer of a living client.
bool ClientTookPress(HRESULT hr) noexcept {
    return !IsClientGone(hr) && !IsComSideFailure(hr);
}

// Ends a wait that may still be pending and lets it complete: the system
// writes into the OVERLAPPED (and the event mask) until then.
void EndWait(KRVN::unique_hfile& port, OVERLAPPED& overlapped) {
    if (!::SetCommMask(port.get(), 0)) {
        // Closing the port ends the wait as well.
        port.reset();
        ::WaitForSingleObject(overlapped.hEvent, INFINITE);
        return;
    }
    DWORD transferred = 0;
    ::GetOverlappedResult(port.get(), &overlapped, &transferred, TRUE);
}

// A client as the test events name it: program, process, account.
std::vector<std::wstring> Named(const ClientCaller& client) {
    return {client.program.empty() ? L"an unknown program" : client.program,
            client.processId ? std::to_wstring(client.processId) : L"unknown",
            client.AccountText()};
}

std::wstring HexCode(std::int32_t code) {
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"%#lx", static_cast<unsigned long>(code));
    return text;
}

} // namespace

// One warning per failure streak of the port (another when the error
// changes), and an information event when the port works after one: a
// retry every few seconds must not flood the event log.
class ComPortWaiter::FailureReport {
public:
    FailureReport(EventReporter& reporter, const std::wstring& port)
        : m_reporter(reporter), m_port(port) {}

    void Failed(DWORD error) {
        if (m_failing && error == m_error) {
            return;
        }
        m_failing = true;
        m_error = error;
        m_reporter.Report({EventType::Warning,
                           MSG_PORT_FAILED,
                           {m_port, std::to_wstring(error), SystemErrorText(error),
                            std::to_wstring(kRetryMs / 1000)}});
    }

    void Working() {
        if (m_failing) {
            m_failing = false;
            m_reporter.Report({EventType::Information, MSG_PORT_WORKS_AGAIN, {m_port}});
        }
    }

private:
    EventReporter& m_reporter;
    const std::wstring& m_port;
    bool m_failing = false;
    DWORD m_error = ERROR_SUCCESS;
};

ComPortWaiter::ComPortWaiter(std::wstring name, PressHandler onPress, EventReporter& reporter)
    : m_onPress(std::move(onPress)), m_reporter(reporter), m_portName(std::move(name)) {
    m_testEvents.SetReporter(reporter);
}

std::wstring ComPortWaiter::PortName() const {
    std::lock_guard<std::mutex> hold(m_nameLock);
    return m_portName;
}

void ComPortWaiter::SetPortName(const std::wstring& name) {
    std::lock_guard<std::mutex> control(m_controlLock);
    {
        std::lock_guard<std::mutex> hold(m_nameLock);
        if (name == m_portName) {
            return;
        }
    }
    Stop(true);
    {
        std::lock_guard<std::mutex> hold(m_nameLock);
        m_portName = name;
    }
    Start(nullptr, 0, false);
}

void ComPortWaiter::SetRedButtonSink(IRedButtonEvents* sink, ClientCaller owner,
                                     KRVN::unique_handle client) {
    if (!sink) {
        ClearRedButtonSink(owner);
        return;
    }
    KRVN::com_ptr<IRedButtonEvents> replacement(sink);
    {
        std::lock_guard<std::mutex> hold(m_sinkLock);
        // Told before it is done: a sink is never stored without its record.
        if (m_sink) {
            PostTestEventLocked(EventType::Information, MSG_BUTTON_TEST_REPLACED, m_sinkOwner,
                                Named(owner));
        }
        PostTestEventLocked(EventType::Warning, MSG_BUTTON_TEST_BEGAN, owner);
        std::swap(m_sink, replacement);
        std::swap(m_sinkClient, client);
        m_sinkOwner = std::move(owner);
    }
    // The previous sink is released here, outside the lock.
}

void ComPortWaiter::ClearRedButtonSink(const ClientCaller& by) {
    KRVN::com_ptr<IRedButtonEvents> released;
    KRVN::unique_handle client;
    {
        std::lock_guard<std::mutex> hold(m_sinkLock);
        if (!m_sink) {
            return;
        }
        // Presses raise the alarm again even if the record cannot be made.
        std::swap(m_sink, released);
        std::swap(m_sinkClient, client);
        PostTestEventLocked(EventType::Information, MSG_BUTTON_TEST_ENDED, m_sinkOwner, Named(by));
    }
}

void ComPortWaiter::Run() {
    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    // Whoever waits for this thread's end (the service's stop) finds the
    // events of its presses written.
    const auto written =
        KRVN::scope_exit([this] { m_testEvents.WaitUntilWritten(kSinkCallBoundMs); });
    const std::wstring name = PortName();
    if (name.empty()) {
        return;
    }
    FailureReport report(m_reporter, name);
    for (;;) {
        try {
            DWORD error = ERROR_SUCCESS;
            KRVN::unique_hfile port = OpenPort(name, error);
            if (port && Watch(port, report, error)) {
                return;
            }
            // Closed before the pause, so the port is free for others meanwhile.
            port.reset();
            report.Failed(error);
        } catch (...) {
            ReportThreadFault(m_reporter, kThreadName);
        }
        if (StopEvent().Lock(kRetryMs, false) != WAIT_TIMEOUT) {
            return;
        }
    }
}

bool ComPortWaiter::Watch(KRVN::unique_hfile& port, FailureReport& report, DWORD& error) {
    const KRVN::unique_event completed = KRVN::unique_event::create(true, false);
    OVERLAPPED overlapped{};
    overlapped.hEvent = completed.get();
    DWORD events = 0;
    const HANDLE handles[] = {StopEvent().Handle(), completed.get()};

    for (;;) {
        events = 0;
        if (!::WaitCommEvent(port.get(), &events, &overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            error = ::GetLastError();
            return false;
        }
        // A wait under way is what a working port looks like.
        report.Working();
        m_waiting = true;
        const DWORD woken = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        m_waiting = false;
        if (woken == WAIT_OBJECT_0 + 1) {
            DWORD transferred = 0;
            if (!::GetOverlappedResult(port.get(), &overlapped, &transferred, FALSE)) {
                // A wait that failed is no press: a port that went away must
                // not raise the alarm.
                error = ::GetLastError();
                return false;
            }
            if ((events & EV_DSR) == 0) {
                // Only DSR is asked for: a completion without it is the
                // driver's way of saying the wait failed.
                error = ERROR_GEN_FAILURE;
                return false;
            }
            OnPress();
            completed.ResetEvent();
            continue;
        }
        if (woken == WAIT_OBJECT_0) {
            EndWait(port, overlapped);
            return true;
        }
        error = ::GetLastError();
        EndWait(port, overlapped);
        return false;
    }
}

bool ComPortWaiter::IsSinkCallStuck() {
    std::lock_guard<std::mutex> hold(m_sinkLock);
    return m_stuckCall && !m_stuckCall->IsDone();
}

void ComPortWaiter::OnPress() {
    bool taken = false;
    try {
        KRVN::com_ptr<IRedButtonEvents> sink;
        ClientCaller owner;
        {
            std::lock_guard<std::mutex> hold(m_sinkLock);
            sink = m_sink;
            owner = m_sinkOwner;
        }
        taken = sink && SinkTakesPress(sink, owner);
    } catch (...) {
        // Whatever went wrong with the client, the press raises the alarm.
        ReportThreadFault(m_reporter, kThreadName);
    }
    if (taken) {
        return;
    }
    try {
        m_onPress(AlarmSource::Button(PortName()));
    } catch (...) {
        ReportThreadFault(m_reporter, kThreadName);
    }
}

bool ComPortWaiter::SinkTakesPress(const KRVN::com_ptr<IRedButtonEvents>& sink,
                                   const ClientCaller& owner) {
    {
        std::lock_guard<std::mutex> hold(m_sinkLock);
        if (m_sinkClient && ::WaitForSingleObject(m_sinkClient.get(), 0) == WAIT_OBJECT_0) {
            // The client has ended: its sink goes, and the press alarms.
            if (m_sink.get() == sink.get()) {
                PostTestEventLocked(EventType::Information, MSG_BUTTON_TEST_CLIENT_ENDED, owner);
                DropSinkLocked();
            }
            return false;
        }
        // A client still stuck in an earlier call cannot take this press.
        if (m_stuckCall && !m_stuckCall->IsDone()) {
            return false;
        }
        m_stuckCall.reset();
    }
    const bool forward = m_forward;
    // Forwarded presses go to the client; otherwise the press is the
    // client's to ignore only while the client is alive to ask.
    const auto call = WorkerPool::Shared().Run([sink, forward]() -> std::int32_t {
        if (forward) {
            return sink->RedButtonPressed();
        }
        KRVN::com_ptr<IUnknown> unexpected;
        return sink->QueryInterface(kLivenessProbeIid, reinterpret_cast<void**>(unexpected.put()));
    });
    if (call->WaitFor(kSinkCallBoundMs) != PendingResult::Wait::Done) {
        std::lock_guard<std::mutex> hold(m_sinkLock);
        m_stuckCall = call;
        PostTestEventLocked(EventType::Warning, MSG_BUTTON_TEST_STUCK, owner,
                            {std::to_wstring(kSinkCallBoundMs)});
        return false;
    }
    if (ClientTookPress(call->Result())) {
        std::lock_guard<std::mutex> hold(m_sinkLock);
        PostTestEventLocked(
            EventType::Warning,
            forward ? MSG_BUTTON_TEST_PRESS_FORWARDED : MSG_BUTTON_TEST_PRESS_IGNORED, owner);
        return true;
    }
    if (!IsClientGone(call->Result())) {
        // A living client that failed the call keeps its sink.
        return false;
    }
    // A dead client's sink would swallow every later press: it is dropped
    // (unless a new client advised meanwhile) and this press raises the
    // alarm. Any other failure leaves a living client's sink in place.
    std::lock_guard<std::mutex> hold(m_sinkLock);
    if (m_sink.get() == sink.get()) {
        PostTestEventLocked(EventType::Information, MSG_BUTTON_TEST_CLIENT_GONE, owner,
                            {HexCode(call->Result())});
        DropSinkLocked();
    }
    return false;
}

void ComPortWaiter::DropSinkLocked() {
    // Released on this thread, which is in the apartment; the caller still
    // holds its own reference, so nothing is freed under the lock.
    m_sink.reset();
    m_sinkClient.reset();
}

void ComPortWaiter::PostTestEventLocked(EventType type, DWORD id, const ClientCaller& owner,
                                        std::vector<std::wstring> more) {
    std::vector<std::wstring> inserts = Named(owner);
    const std::wstring port = PortName();
    inserts.push_back(port.empty() ? L"(no port)" : EventText(port));
    for (std::wstring& insert : more) {
        inserts.push_back(std::move(insert));
    }
    m_testEvents.Post([event = Event{type, id, std::move(inserts)}](EventReporter& reporter) {
        reporter.Report(event);
    });
}

#include "service/com_port_waiter.h"

#include "com/unique_couninitialize.h"
#include "common/unique_handle.h"
#include "connections/worker_pool.h"
#include "service/alarm_manager.h"

namespace {

// Asked of a sink only to reach its process. A marshallable interface that
// no sink implements: the proxy must ask the client itself (an interface
// without a proxy may be refused on this side, dead client or not), a living
// client answers E_NOINTERFACE and a dead one's call fails.
const IID& kLivenessProbeIid = IID_IQNServers;

// The port with DTR raised (the button closes DTR onto DSR) and only DSR
// changes reported, or an empty handle when it cannot be used.
//
// Read and write access is asked for although the watcher does neither:
// Wine refuses every comm call on a handle opened for SYNCHRONIZE alone, and
// on Windows a serial port is held exclusively whatever the access.
KRVN::unique_hfile OpenPort(const std::wstring& name) {
    if (name.empty()) {
        return {};
    }
    KRVN::unique_hfile port(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OVERLAPPED, nullptr));
    if (!port) {
        return {};
    }
    DCB control{};
    control.DCBlength = sizeof control;
    if (!::GetCommState(port.get(), &control)) {
        return {};
    }
    control.fDtrControl = DTR_CONTROL_ENABLE;
    if (!::SetCommState(port.get(), &control) || !::SetCommMask(port.get(), EV_DSR)) {
        return {};
    }
    return port;
}

// The errors of a call whose client process has gone: its sink can never be
// reached again. (Wine answers a call to a killed process with
// RPC_S_SERVER_UNAVAILABLE.)
bool IsClientGone(HRESULT hr) noexcept {
    switch (hr) {
    case RPC_E_DISCONNECTED:
    case CO_E_OBJNOTCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
        return true;
    default:
        return false;
    }
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

} // namespace

ComPortWaiter::ComPortWaiter(std::wstring name, AlarmManager& manager)
    : m_manager(manager), m_portName(std::move(name)) {}

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

void ComPortWaiter::SetRedButtonSink(IRedButtonEvents* sink) {
    KRVN::com_ptr<IRedButtonEvents> replacement(sink);
    {
        std::lock_guard<std::mutex> hold(m_sinkLock);
        std::swap(m_sink, replacement);
    }
    // The previous sink is released here, outside the lock.
}

void ComPortWaiter::Run() {
    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    KRVN::unique_hfile port = OpenPort(PortName());
    if (!port) {
        return;
    }
    const KRVN::unique_event completed = KRVN::unique_event::create(true, false);
    OVERLAPPED overlapped{};
    overlapped.hEvent = completed.get();
    DWORD events = 0;
    const HANDLE handles[] = {StopEvent().Handle(), completed.get()};

    for (;;) {
        if (!::WaitCommEvent(port.get(), &events, &overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            // The port takes no more waits: nothing can be watched.
            return;
        }
        const DWORD woken = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0 + 1) {
            DWORD transferred = 0;
            if (!::GetOverlappedResult(port.get(), &overlapped, &transferred, FALSE)) {
                // A wait that failed is no press: a port that went away must
                // not raise the alarm, nor keep the thread spinning.
                return;
            }
            OnPress();
            completed.ResetEvent();
            continue;
        }
        // Stop requested, or the wait itself failed.
        EndWait(port, overlapped);
        return;
    }
}

void ComPortWaiter::OnPress() {
    KRVN::com_ptr<IRedButtonEvents> sink;
    {
        std::lock_guard<std::mutex> hold(m_sinkLock);
        sink = m_sink;
    }
    if (!sink || !SinkTakesPress(sink)) {
        m_manager.AlarmAll();
    }
}

bool ComPortWaiter::SinkTakesPress(const KRVN::com_ptr<IRedButtonEvents>& sink) {
    {
        std::lock_guard<std::mutex> hold(m_sinkLock);
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
        return false;
    }
    if (!IsClientGone(call->Result())) {
        return true;
    }
    // A dead client's sink would swallow every later press: it is dropped
    // (unless a new client advised meanwhile) and this press raises the
    // alarm. Any other failure leaves a living client's sink in place.
    KRVN::com_ptr<IRedButtonEvents> dropped;
    {
        std::lock_guard<std::mutex> hold(m_sinkLock);
        if (m_sink.get() == sink.get()) {
            std::swap(m_sink, dropped);
        }
    }
    return false;
}

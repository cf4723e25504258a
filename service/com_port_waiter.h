#pragma once
// The red-button port watcher: holds the serial port open with DTR raised and
// counts every change of DSR as one press. A press raises the alarm through
// the alarm manager, or, while a client has registered a red-button sink, is
// forwarded to that sink (forward flag set) or ignored (flag clear).
//
// While a sink is stored the button is in its client's test: presses raise
// no alarm. The test's start and end (an Unadvise, another client's sink,
// the client's death) are written as events naming the client, and so are
// each press the test took or ignored and a call into the client that got
// stuck. They are posted in order and written on a worker, so neither a
// press nor a client's call waits for the event log.
//
// No client can swallow a press: a sink whose client process has gone is
// dropped at the next press, which raises the alarm; a client that has not
// answered a press within kSinkCallBoundMs is passed over, and the press
// raises the alarm (so do later presses while that call is stuck). A client
// is known dead when its process (taken when it advised) has ended, or when
// a call fails with a disconnection; with the flag clear each press asks the
// client, within the same bound, whether it is still there.
//
// A port that cannot be opened or configured, or whose wait fails (an adapter
// unplugged), is tried again every kRetryMs until it works, its name changes
// or the service stops; the reporter hears of each failure streak and of the
// port working again.
//
// The sink, the flag and the port name are changed by COM call threads while
// the watcher thread reads them at each press.

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "com/com_ptr.h"
#include "connections/pending_result.h"
#include "common/unique_handle.h"
#include "contract/TolvaneLib.h"
#include "service/alarm_pass_events.h"
#include "service/alarm_waiter.h"
#include "service/client_caller.h"
#include "service/event_queue.h"

class ComPortWaiter : public AlarmWaiter {
public:
    static constexpr DWORD kSinkCallBoundMs = 2000;
    // Between a failure of the port and the next try.
    static constexpr DWORD kRetryMs = 3000;

    // What a press that raises the alarm runs (the manager's AlarmAll).
    using PressHandler = std::function<void(const AlarmSource&)>;

    // name is the port as the user wrote it ("COM12"), opened by its device
    // path; presses without a sink go to onPress; the port's failures, and
    // failures on the watcher's thread that it goes on after, go to reporter,
    // which outlives the watcher's thread.
    ComPortWaiter(std::wstring name, PressHandler onPress, EventReporter& reporter);

    std::wstring PortName() const;
    // Watches another port: when name differs (case-sensitively) from the
    // current one, the thread is stopped, waited for and started again.
    void SetPortName(const std::wstring& name);

    // sink (not null) replaces and releases the stored one: owner's test
    // begins, and the one it replaces ends. client: the sink's process when
    // known, to see at a press that it has ended.
    void SetRedButtonSink(IRedButtonEvents* sink, ClientCaller owner,
                          KRVN::unique_handle client = {});
    // Empties the slot: the test, if any, ends at the request of by.
    void ClearRedButtonSink(const ClientCaller& by);
    // Presses go to the stored sink only when value is 1.
    void SetForwardFlag(LONG value) noexcept { m_forward = value == 1; }

    // True while a wait on the port is under way, so that a change of the
    // button now is seen. A change while a press is being handled may be
    // missed on a port whose driver keeps no history of its events.
    bool IsWaitingOnPort() const noexcept { return m_waiting; }
    // True while a call into the client has overrun its bound and not
    // returned; presses raise the alarm meanwhile.
    bool IsSinkCallStuck();

protected:
    void Run() override;

private:
    class FailureReport;

    // Watches the open port until the stop event (true) or until a wait
    // fails (false, with its error).
    bool Watch(KRVN::unique_hfile& port, FailureReport& report, DWORD& error);
    void OnPress();
    // True when the living client took the press (forwarded, or ignored
    // with the flag clear); false when the press must raise the alarm.
    bool SinkTakesPress(const KRVN::com_ptr<IRedButtonEvents>& sink, const ClientCaller& owner);
    // The caller holds m_sinkLock.
    void DropSinkLocked();
    // Posts a test event: owner's program, process and account, the port,
    // then more. The caller holds m_sinkLock, so events keep the order of
    // what they tell.
    void PostTestEventLocked(EventType type, DWORD id, const ClientCaller& owner,
                             std::vector<std::wstring> more = {});

    const PressHandler m_onPress;
    EventReporter& m_reporter;

    // Serialises SetPortName, so that two restarts never meet.
    std::mutex m_controlLock;
    mutable std::mutex m_nameLock;
    std::wstring m_portName;

    // A press copies the sink under this lock and calls it outside, so an
    // Unadvise racing with the call never frees the sink in use.
    std::mutex m_sinkLock;
    KRVN::com_ptr<IRedButtonEvents> m_sink;
    KRVN::unique_handle m_sinkClient;
    ClientCaller m_sinkOwner;
    // A call into the client that overran its bound, until it returns.
    std::shared_ptr<PendingResult> m_stuckCall;
    std::atomic<bool> m_forward{false};
    std::atomic<bool> m_waiting{false};
    // The test events; declared last, so it is destroyed first, once they
    // are written.
    EventQueue m_testEvents;
};

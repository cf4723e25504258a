#pragma once
// The red-button port watcher: holds the serial port open with DTR raised and
// counts every change of DSR as one press. A press raises the alarm through
// the alarm manager, or, while a client has registered a red-button sink, is
// forwarded to that sink (forward flag set) or ignored (flag clear). A sink
// whose client process has gone is dropped at its first forwarded press, and
// that press raises the alarm.
//
// The sink, the flag and the port name are changed by COM call threads while
// the watcher thread reads them at each press.

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "com/com_ptr.h"
#include "contract/TolvaneLib.h"
#include "service/alarm_waiter.h"

class AlarmManager;

class ComPortWaiter : public AlarmWaiter {
public:
    // name is passed unchanged to CreateFileW ("COM1"); presses without a
    // sink go to manager's AlarmAll.
    ComPortWaiter(std::wstring name, AlarmManager& manager);

    std::wstring PortName() const;
    // Watches another port: when name differs (case-sensitively) from the
    // current one, the thread is stopped, waited for and started again.
    void SetPortName(const std::wstring& name);

    // A sink replaces (and releases) the stored one; null empties the slot.
    void SetRedButtonSink(IRedButtonEvents* sink);
    // Presses go to the stored sink only when value is 1.
    void SetForwardFlag(LONG value) noexcept { m_forward = value == 1; }

protected:
    void Run() override;

private:
    void OnPress();

    AlarmManager& m_manager;

    // Serialises SetPortName, so that two restarts never meet.
    std::mutex m_controlLock;
    mutable std::mutex m_nameLock;
    std::wstring m_portName;

    // A press copies the sink under this lock and calls it outside, so an
    // Unadvise racing with the call never frees the sink in use.
    std::mutex m_sinkLock;
    KRVN::com_ptr<IRedButtonEvents> m_sink;
    std::atomic<bool> m_forward{false};
};

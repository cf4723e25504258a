#pragma once
// The program's sink for the service's state reports (IChangeIconEvents).
// One static object for the whole run: it is never freed, so a report that
// arrives late can always land. It hands each report to the published
// ShellIcon, which queues it for the main thread.

#include <objbase.h>

#include <mutex>

#include "com/owned_sink.h"
#include "contract/TolvaneLib.h"

class ShellIcon;

class ChangeIconEvents final : public KRVN::com::OwnedSink<IChangeIconEvents> {
public:
    static ChangeIconEvents& Instance();

    // The icon that receives the reports from now on.
    void Publish(ShellIcon* icon);
    // Stops the reports to `icon`; returns after any report being handed to
    // it has been queued.
    void Withdraw(ShellIcon* icon);

    // Runs on a COM worker thread; always S_OK.
    HRESULT STDMETHODCALLTYPE ChangeIcon(eConnectState state, BSTR addresses) override;

private:
    ChangeIconEvents() = default;

    std::mutex m_lock;
    ShellIcon* m_icon = nullptr;
};

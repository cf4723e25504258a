#pragma once
// The periodic connection check: a thread embedded in the alarm manager that
// probes every listed server when it starts and then every
// ConnectCheckDelay seconds, keeps the set of reachable addresses, computes
// the aggregate state (an eConnectState value) and tells the desktop client
// through its IChangeIconEvents sink when the state changed, a server came up
// or a server was lost.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "common/smart_thread.h"
#include "config/counted_ptr.h"

class AlarmManager;
class ConnectorHolder;

class ConnectChecker : public CEventThread<CRuntimeThreadCreator> {
public:
    // The manager whose list and state the next run works on.
    void SetOwner(AlarmManager* owner) noexcept { m_owner = owner; }

    // One tick: check every server and notify the sink if anything changed.
    void CheckAndNotify();
    // Probes every entry, in list order, each on a worker while this thread
    // waits for it or for a stop; the manager lock is taken only to record
    // the result. lost receives the address of every server that was
    // reachable and failed now, each followed by a line feed; cameUp is set
    // when a server became reachable. Returns the aggregate state.
    LONG CheckAll(std::wstring& lost, bool& cameUp);
    // Hands the report to the client's sink, if one is registered, without
    // waiting for the client (change_icon_notifier.h).
    void FireChangeIcon(LONG state, const std::wstring& lost);

protected:
    void Run() override;

private:
    // The entry's probe, run on a worker; nothing when the checker was told
    // to stop meanwhile.
    std::optional<std::int32_t> ProbeOnWorker(const KRVN::CountedPtr<ConnectorHolder>& entry);
    bool StopRequested();

    AlarmManager* m_owner = nullptr;
};

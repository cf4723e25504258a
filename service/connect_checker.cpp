#include "service/connect_checker.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "com/bstr.h"
#include "com/unique_couninitialize.h"
#include "common/sync_guard.h"
#include "connections/worker_pool.h"
#include "service/alarm_manager.h"

namespace {

// The pause in milliseconds; a period too long for a wait's time limit is
// cut just short of INFINITE, which would never tick again.
DWORD PeriodMs(LONG delaySeconds) {
    const std::uint64_t ms = static_cast<std::uint64_t>(static_cast<DWORD>(delaySeconds)) * 1000u;
    return static_cast<DWORD>(std::min<std::uint64_t>(ms, INFINITE - 1));
}

} // namespace

void ConnectChecker::Run() {
    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    CheckAndNotify();
    const DWORD period = PeriodMs(m_owner->ConnectCheckDelay());
    while (StopEvent().Lock(period, false) == WAIT_TIMEOUT) {
        CheckAndNotify();
    }
}

void ConnectChecker::CheckAndNotify() {
    std::wstring lost;
    bool cameUp = false;
    const LONG state = CheckAll(lost, cameUp);
    // A tick cut short by a stop has not seen every server.
    if (StopRequested()) {
        return;
    }
    if (state != m_owner->m_state.load() || !lost.empty() || cameUp) {
        FireChangeIcon(state, lost);
        m_owner->m_state = state;
    }
}

LONG ConnectChecker::CheckAll(std::wstring& lost, bool& cameUp) {
    AlarmManager& manager = *m_owner;
    lost.clear();
    cameUp = false;
    bool anyUp = false;
    bool anyDown = false;
    // Entries may be inserted meanwhile: the next one is looked up by key,
    // under the list lock, after the last one visited. No lock is held while
    // a probe talks to the network.
    std::optional<std::wstring> lastKey;
    while (!StopRequested()) {
        AlarmManager::Entry entry;
        {
            std::lock_guard<std::mutex> list(manager.m_listLock);
            const auto next =
                lastKey ? manager.m_servers.upper_bound(*lastKey) : manager.m_servers.begin();
            if (next == manager.m_servers.end()) {
                break;
            }
            lastKey = next->first;
            entry = next->second;
        }
        // A connection that is up costs nothing: no worker for it.
        const std::optional<std::int32_t> probed =
            entry->CheckNow() ? std::optional<std::int32_t>(0) : ProbeOnWorker(entry);
        if (!probed) {
            break;
        }
        const std::int32_t code = *probed;
        const std::wstring address = entry->GetAddress();
        KRVN::CSyncGuard hold(&manager.m_lock);
        if (code == 0) {
            anyUp = true;
            cameUp = manager.m_connected.insert(address).second || cameUp;
        } else {
            anyDown = true;
            if (manager.m_connected.erase(address) != 0) {
                lost += address;
                lost += L'\n';
            }
        }
    }
    if (anyUp) {
        return anyDown ? SomeConnected : AllConnected;
    }
    return anyDown ? AllDisconnected : NoneConnect;
}

std::optional<std::int32_t> ConnectChecker::ProbeOnWorker(const AlarmManager::Entry& entry) {
    const auto probe = entry->ProbeInFlight(
        [&entry] { return WorkerPool::Shared().Run([entry] { return entry->Check(); }); });
    // A stop ends the wait at once; the probe finishes on its worker.
    if (probe->WaitFor(INFINITE, StopEvent().Handle()) != PendingResult::Wait::Done) {
        return std::nullopt;
    }
    return probe->Result();
}

bool ConnectChecker::StopRequested() {
    return StopEvent().Lock(0, false) == WAIT_OBJECT_0;
}

void ConnectChecker::FireChangeIcon(LONG state, const std::wstring& lost) {
    KRVN::com_ptr<IChangeIconEvents> sink;
    {
        KRVN::CSyncGuard hold(&m_owner->m_lock);
        sink = m_owner->m_changeIconSink;
    }
    if (!sink) {
        return;
    }
    const KRVN::unique_bstr addresses(lost.c_str());
    // A client that has gone away changes nothing here.
    sink->ChangeIcon(static_cast<eConnectState>(state), addresses.get());
}

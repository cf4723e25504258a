#include "service/connect_checker.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "com/bstr.h"
#include "com/unique_couninitialize.h"
#include "common/sync_guard.h"
#include "connections/worker_pool.h"
#include "service/alarm_manager.h"
#include "service/thread_fault.h"

namespace {

constexpr wchar_t kThreadName[] = L"connection checker";

} // namespace

void ConnectChecker::Run() {
    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    const DWORD period = static_cast<DWORD>(m_owner->ConnectCheckDelay()) * 1000;
    do {
        try {
            CheckAndNotify();
        } catch (...) {
            // The tick is lost, the checker is not: the next one comes on time.
            try {
                m_owner->Report(ThreadFaultEvent(kThreadName));
            } catch (...) {
            }
        }
    } while (StopEvent().Lock(period, false) == WAIT_TIMEOUT);
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
    // Handed over: the checker never waits for a client.
    m_owner->m_notifier.Notify(state, lost);
}

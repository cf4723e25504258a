#include "service/alarm_manager.h"

#include <cwchar>
#include <iterator>

#include "com/bstr.h"
#include "common/sync_guard.h"
#include "config/alarm_key_security.h"
#include "config/registry_store.h"
#include "connections/configuration_gate.h"
#include "connections/find_process_by_name.h"
#include "connections/qn_server.h"
#include "connections/server_alarm_route.h"
#include "connections/worker_pool.h"
#include "service/com_port_waiter.h"
#include "service/configuration_policy.h"
#include "service/event_reporter.h"

namespace {

// Exit code of the desktop program when the service ends it.
constexpr UINT kDesktopExitCode = 0xFFFFFFFF;

// The object's IQNServer and its Address (a null Address reads as empty),
// or a null interface when the object has none.
KRVN::com_ptr<IQNServer> ServerWithAddress(IUnknown* object, std::wstring& address) {
    const auto server = KRVN::com_ptr<IUnknown>(object).try_query<IQNServer>();
    if (server) {
        KRVN::unique_bstr text;
        server->get_Address(text.put());
        address = text ? std::wstring(text.get()) : std::wstring();
    }
    return server;
}

// A listed object's Address is its entry's key: the object refuses another
// while marked. Only the service's own QNServer objects carry the mark.
KRVN::com_ptr<IListedServer> ListingMark(const AlarmManager::Entry& entry) {
    return entry->GetServer().try_query<IListedServer>();
}

} // namespace

AlarmManager& AlarmManager::Instance() {
    // Left alive at exit on purpose: its threads may still use it then.
    static AlarmManager* const instance = [] {
        auto* made = new AlarmManager;
        SetServerAlarmRoute(
            [](const std::wstring& address) { return Instance().SendAlarmTo(address); });
        SetConfigurationGate(&CallerMayConfigure);
        return made;
    }();
    return *instance;
}

AlarmManager::AlarmManager() = default;

AlarmManager::~AlarmManager() {
    // Both threads work on this object: they must have ended before it goes.
    if (const auto watcher = PortWatcher()) {
        watcher->Stop(true);
    }
    m_checker.Stop(true);
}

void AlarmManager::Start(EventReporter& reporter) {
    // At every start: the key may have been made or loosened while the
    // service was away. The settings stay usable if this fails.
    if (const HRESULT protection = KRVN::ProtectAlarmKey(); FAILED(protection)) {
        wchar_t text[160];
        std::swprintf(text, std::size(text),
                      L"The settings key could not be made private to the service: error %#lx.",
                      static_cast<unsigned long>(protection));
        reporter.Warning(text);
    }
    LoadList();
    KRVN::LoadConnectCheckDelay(m_connectCheckDelay);
    const std::wstring portName = KRVN::LoadComPort();
    {
        std::lock_guard<std::mutex> control(m_checkerControl);
        StartChecker();
    }
    const auto watcher =
        KRVN::CountedPtr<ComPortWaiter>(new ComPortWaiter(portName, *this, reporter));
    // A stop that came while the service was starting wins: the watcher is
    // published, for clients that may still call, but never started.
    std::lock_guard<std::mutex> hold(m_watcherLock);
    m_portWatcher = watcher;
    if (!m_shutDown) {
        watcher->Start(nullptr, 0, false);
    }
}

void AlarmManager::Shutdown() {
    KRVN::CountedPtr<ComPortWaiter> watcher;
    {
        std::lock_guard<std::mutex> hold(m_watcherLock);
        m_shutDown = true;
        watcher = m_portWatcher;
    }
    if (watcher) {
        watcher->Stop(false);
    }
    if (const KRVN::unique_handle desktop = FindProcessByName(L"Alarm.exe")) {
        ::TerminateProcess(desktop.get(), kDesktopExitCode);
    }
}

std::int32_t AlarmManager::AlarmAll() {
    const ULONGLONG deadline = ::GetTickCount64() + kAlarmPassBoundMs;
    const Snapshot entries = Servers();
    std::vector<std::shared_ptr<PendingResult>> started;
    started.reserve(entries.size());
    std::vector<Entry> slow;
    for (const bool reachable : {true, false}) {
        // Orders on open connections go out first: a worker starting on a
        // slow order would only compete with them for the processor.
        slow.clear();
        for (const auto& [key, entry] : entries) {
            if ((entry->GetStateCode() == 0) == reachable && !entry->SendAlarmNow()) {
                slow.push_back(entry);
            }
        }
        for (const Entry& entry : slow) {
            started.push_back(SendOnWorker(entry));
        }
    }
    bool failed = false;
    for (const auto& order : started) {
        failed = order->WaitUntil(deadline) != PendingResult::Wait::Done || order->Result() != 0 ||
                 failed;
    }
    return failed ? -1 : 0;
}

std::int32_t AlarmManager::SendAlarmTo(const std::wstring& address) {
    const Entry entry = Find(address);
    if (!entry) {
        return kNotListed;
    }
    if (entry->SendAlarmNow()) {
        return 0;
    }
    const auto order = SendOnWorker(entry);
    if (order->WaitFor(kAlarmPassBoundMs) != PendingResult::Wait::Done) {
        return PendingResult::kTimedOut;
    }
    return order->Result();
}

std::shared_ptr<PendingResult> AlarmManager::SendOnWorker(const Entry& entry) {
    // The worker holds the entry: a removal meanwhile frees nothing in use.
    return WorkerPool::Shared().Run([entry] { return entry->SendAlarm(); });
}

void AlarmManager::AddServer(IUnknown* server) {
    std::wstring address;
    const auto object = ServerWithAddress(server, address);
    if (object) {
        const auto entry = Entry(new ConnectorHolder(object.get()));
        Insert(address, entry);
    }
}

std::int32_t AlarmManager::TryConnectAdd(IUnknown* server) {
    std::wstring address;
    const auto object = ServerWithAddress(server, address);
    if (!object) {
        return E_NOINTERFACE;
    }
    const auto entry = Entry(new ConnectorHolder(object.get()));
    const std::int32_t code = entry->Check();
    if (code == 0) {
        Insert(address, entry);
    }
    return code;
}

void AlarmManager::RemoveServer(const std::wstring& address) {
    std::lock_guard<std::mutex> control(m_checkerControl);
    m_checker.Stop(true);
    decltype(m_servers)::node_type removed;
    {
        std::lock_guard<std::mutex> list(m_listLock);
        removed = m_servers.extract(address);
    }
    if (removed) {
        if (const auto mark = ListingMark(removed.mapped())) {
            mark->SetListed(false);
        }
    }
    // The checker is stopped: nobody else touches the connected set now.
    m_connected.erase(address);
    StartChecker();
}

HRESULT AlarmManager::SaveList() {
    // The snapshot keeps every entry, and so its server object, alive
    // while the store reads them.
    const Snapshot entries = Servers();
    std::vector<IUnknown*> objects;
    objects.reserve(entries.size());
    for (const auto& [key, entry] : entries) {
        objects.push_back(entry->GetServer().get());
    }
    return KRVN::SaveServerList(objects);
}

HRESULT AlarmManager::LoadList() {
    KRVN::ServerObjectList loaded;
    const HRESULT result = KRVN::LoadServerList(loaded);
    if (result == S_OK) {
        for (const auto& server : loaded) {
            AddServer(server.get());
        }
    }
    return result;
}

void AlarmManager::RestartChecker() {
    std::lock_guard<std::mutex> control(m_checkerControl);
    m_checker.Stop(true);
    m_state = 0;
    StartChecker();
}

void AlarmManager::SetChangeIconSink(IChangeIconEvents* sink) {
    KRVN::com_ptr<IChangeIconEvents> replacement(sink);
    {
        KRVN::CSyncGuard hold(&m_lock);
        std::swap(m_changeIconSink, replacement);
    }
    // The previous sink is released here, outside the lock.
}

std::wstring AlarmManager::GetComPort() const {
    const auto watcher = PortWatcher();
    return watcher ? watcher->PortName() : std::wstring();
}

HRESULT AlarmManager::SetComPort(const std::wstring& name) {
    if (const auto watcher = PortWatcher()) {
        watcher->SetPortName(name);
    }
    KRVN::SaveComPort(name);
    return S_OK;
}

KRVN::CountedPtr<ComPortWaiter> AlarmManager::PortWatcher() const {
    std::lock_guard<std::mutex> hold(m_watcherLock);
    return m_portWatcher;
}

size_t AlarmManager::ServerCount() const {
    std::lock_guard<std::mutex> list(m_listLock);
    return m_servers.size();
}

AlarmManager::Snapshot AlarmManager::Servers() const {
    std::lock_guard<std::mutex> list(m_listLock);
    return Snapshot(m_servers.begin(), m_servers.end());
}

void AlarmManager::StartChecker() {
    m_checker.SetOwner(this);
    m_checker.Start(nullptr, 0, false);
}

void AlarmManager::Insert(const std::wstring& key, const Entry& entry) {
    const auto mark = ListingMark(entry);
    // A copy goes in, so a refused entry is freed by the caller, outside the locks.
    KRVN::CSyncGuard hold(&m_lock);
    std::lock_guard<std::mutex> list(m_listLock);
    if (m_servers.try_emplace(key, entry).second && mark) {
        mark->SetListed(true);
    }
}

AlarmManager::Entry AlarmManager::Find(const std::wstring& address) const {
    std::lock_guard<std::mutex> list(m_listLock);
    const auto found = m_servers.find(address);
    return found == m_servers.end() ? Entry() : found->second;
}

#include "service/alarm_manager.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <iterator>

#include "com/bstr.h"
#include "com/com_object.h"
#include "com/result.h"
#include "common/ca_exception.h"
#include "common/sync_guard.h"
#include "config/alarm_key_security.h"
#include "config/registry_store.h"
#include "connections/configuration_gate.h"
#include "connections/deadline.h"
#include "connections/qn_server.h"
#include "connections/secret_text.h"
#include "connections/server_alarm_route.h"
#include "connections/worker_pool.h"
#include "service/client_caller.h"
#include "service/com_port_waiter.h"
#include "service/configuration_policy.h"
#include "service/event_reporter.h"
#include "service/event_text.h"
#include "service/serial_port_name.h"
#include "service/stored_port_name.h"
#include "service/system_error_text.h"
#include "service/thread_fault.h"

namespace {

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

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point began) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count();
}

// Written by the worker that sends an order, read once its result is done.
struct OrderProgress {
    std::atomic<AlarmTransport> transport{AlarmTransport::Tcp};
    std::atomic<long long> elapsedMs{0};
};

// One order of a pass: sent on the open connection (no result), or on a
// worker.
struct Order {
    size_t server;
    long long sentNowMs;
    std::shared_ptr<PendingResult> result;
    std::shared_ptr<OrderProgress> progress;
};

// One order, on the calling thread.
std::int32_t SendOrder(const AlarmManager::Entry& entry,
                       const std::shared_ptr<OrderProgress>& progress, Clock::time_point began,
                       Deadline deadline) {
    AlarmTransport transport;
    const std::int32_t code = entry->SendAlarm(&transport, deadline);
    if (progress) {
        progress->transport = transport;
        progress->elapsedMs = MsSince(began);
    }
    return code;
}

// The worker holds the entry: a removal meanwhile frees nothing in use. When
// no worker can be had, the order goes out on the calling thread: late
// beats never.
std::shared_ptr<PendingResult> SendOnWorker(const AlarmManager::Entry& entry,
                                            std::shared_ptr<OrderProgress> progress,
                                            Clock::time_point began, Deadline deadline) {
    try {
        return WorkerPool::Shared().Run([entry, progress, began, deadline] {
            return SendOrder(entry, progress, began, deadline);
        });
    } catch (...) {
        auto done = std::make_shared<PendingResult>();
        done->Complete(SendOrder(entry, progress, began, deadline));
        return done;
    }
}

void Check(HRESULT hr) {
    if (hr != S_OK) {
        KRVN_RAISE(hr);
    }
}

std::wstring HexCode(HRESULT hr) {
    wchar_t code[16];
    std::swprintf(code, std::size(code), L"%#lx", static_cast<unsigned long>(hr));
    return code;
}

// What the store keeps of a listed server; a property never set is saved as
// empty. The password's copies are wiped on their way.
KRVN::ServerRecord RecordOf(const KRVN::com_ptr<IDispatch>& object) {
    const auto server = object.query<IQNServer>();
    KRVN::unique_bstr address;
    SecretBstr password;
    KRVN::ServerRecord record;
    Check(server->get_Address(address.put()));
    Check(server->get_Password(password.put()));
    Check(server->get_Port(&record.port));
    record.address.assign(address ? address.get() : L"", address.length());
    record.password = SecretWString(password.get(), ::SysStringLen(password.get()));
    return record;
}

KRVN::com_ptr<IQNServer> MakeServerObject(const KRVN::ServerRecord& record) {
    const KRVN::com_ptr<IQNServer> server(KRVN::com::ComObject<QNServer>::Make());
    const std::wstring& text = record.password.Text();
    const SecretBstr password(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (!password) {
        KRVN_RAISE(E_OUTOFMEMORY);
    }
    Check(server->put_Address(KRVN::unique_bstr(record.address.c_str()).get()));
    Check(server->put_Password(password.get()));
    Check(server->put_Port(record.port));
    return server;
}

// The list's records in the store, all or nothing.
HRESULT SaveRecordsOf(const AlarmManager::Snapshot& entries) {
    try {
        KRVN::ServerRecordList records;
        records.reserve(entries.size());
        for (const auto& [key, entry] : entries) {
            records.push_back(RecordOf(entry->GetServer()));
        }
        return KRVN::SaveServerList(records);
    }
    KRVN_CATCH_RETURN()
}

// The stored servers as new QNServer objects: all of them, or none when the
// load fails.
HRESULT LoadServerObjects(std::vector<KRVN::com_ptr<IQNServer>>& servers) {
    try {
        KRVN::ServerRecordList records;
        const HRESULT result = KRVN::LoadServerList(records);
        if (result != S_OK) {
            return result;
        }
        servers.reserve(records.size());
        for (const KRVN::ServerRecord& record : records) {
            servers.push_back(MakeServerObject(record));
        }
        return S_OK;
    }
    KRVN_CATCH_RETURN()
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

AlarmManager::AlarmManager()
    : m_policyWatch(
          [this] {
              try {
                  ApplyPolicy(true);
              } catch (...) {
                  // This change is lost; the next one is read whole.
                  try {
                      Report(ThreadFaultEvent(L"policy watch"));
                  } catch (...) {
                  }
              }
          },
          [this](DWORD error) {
              Report({EventType::Warning,
                      MSG_POLICY_NOT_WATCHED,
                      {std::to_wstring(error), SystemErrorText(error)}});
          }) {}

AlarmManager::~AlarmManager() {
    // The threads work on this object: they must have ended before it goes.
    // The policy watch restarts the others, so it goes first.
    m_policyWatch.Stop(true);
    if (const auto watcher = PortWatcher()) {
        watcher->Stop(true);
    }
    m_checker.Stop(true);
}

void AlarmManager::Start(EventReporter& reporter) {
    m_events.SetReporter(reporter);
    // At every start, before anything is read: the key or a key below it
    // may have been made or loosened while the service was away. The
    // settings stay readable if this fails, but no password is written.
    if (const HRESULT protection = KRVN::ProtectAlarmKey(); FAILED(protection)) {
        reporter.Report({EventType::Warning, MSG_SETTINGS_KEY_NOT_PRIVATE, {HexCode(protection)}});
    }
    m_desktop.PrepareCloseRequest();
    LoadList();
    LoadCheckDelay(reporter);
    // A stored name passes the same check as a client's before it is opened.
    const std::wstring storedPort =
        KRVN::LoadComPort([&reporter](const std::wstring& name, const std::wstring& keyPath) {
            return IsUsableStoredPortName(name, keyPath, reporter);
        });
    {
        std::lock_guard<std::mutex> saving(m_storeLock);
        m_ownPort = storedPort;
    }
    ApplyPolicy(false);
    std::wstring portName;
    {
        std::lock_guard<std::mutex> saving(m_storeLock);
        portName = EffectivePortLocked();
    }
    {
        std::lock_guard<std::mutex> control(m_checkerControl);
        StartChecker();
    }
    const auto watcher = KRVN::CountedPtr<ComPortWaiter>(new ComPortWaiter(
        portName, [this](const AlarmSource& source) { AlarmAll(source); }, reporter));
    // A stop that came while the service was starting wins: the watcher is
    // published, for clients that may still call, but never started.
    std::lock_guard<std::mutex> hold(m_watcherLock);
    m_portWatcher = watcher;
    if (!m_shutDown) {
        watcher->Start(nullptr, 0, false);
        m_policyWatch.Start(nullptr, 0, false);
    }
}

void AlarmManager::ApplyPolicy(bool running) {
    std::lock_guard<std::mutex> reading(m_policyLock);
    SettingsPolicy::OwnValues own{KRVN::LoadAdminOnly() ? L"1" : L"0",
                                  std::to_wstring(m_ownCheckDelay), L"(none)"};
    {
        std::lock_guard<std::mutex> saving(m_storeLock);
        if (!m_ownPort.empty()) {
            own.port = EventText(m_ownPort);
        }
    }
    m_policy.Refresh(own, [this](Event event) { Report(std::move(event)); });

    const auto& delayPolicy = m_policy.CheckDelay();
    const LONG delay = delayPolicy.state == KRVN::PolicyState::Set
                           ? static_cast<LONG>(delayPolicy.value)
                           : m_ownCheckDelay;
    if (delay != m_connectCheckDelay) {
        std::lock_guard<std::mutex> control(m_checkerControl);
        // The checker reads its period when it starts: it takes the new one
        // now, with a check at once.
        if (running) {
            m_checker.Stop(true);
        }
        m_connectCheckDelay = delay;
        if (running) {
            StartChecker();
        }
    }

    const auto& portPolicy = m_policy.Port();
    std::lock_guard<std::mutex> saving(m_storeLock);
    m_managedPort.reset();
    if (portPolicy.state == KRVN::PolicyState::Set) {
        m_managedPort = portPolicy.value;
    }
    if (!running) {
        return;
    }
    // The stored name stays as it is: when the policy goes, it applies again.
    KRVN::CountedPtr<ComPortWaiter> watcher;
    {
        std::lock_guard<std::mutex> hold(m_watcherLock);
        if (!m_shutDown) {
            watcher = m_portWatcher;
        }
    }
    if (watcher) {
        watcher->SetPortName(EffectivePortLocked());
    }
}

std::wstring AlarmManager::EffectivePortLocked() const {
    return m_managedPort.value_or(m_ownPort);
}

void AlarmManager::LoadCheckDelay(EventReporter& reporter) {
    LONG stored = kDefaultConnectCheckDelay;
    if (KRVN::LoadConnectCheckDelay(stored) != S_OK) {
        m_ownCheckDelay = m_connectCheckDelay;
        return;
    }
    // The registry holds it as a DWORD.
    const auto seconds = static_cast<DWORD>(stored);
    const DWORD used = std::clamp<DWORD>(seconds, kMinConnectCheckDelay, kMaxConnectCheckDelay);
    if (used != seconds) {
        reporter.Report({EventType::Warning,
                         MSG_CHECK_DELAY_OUT_OF_RANGE,
                         {std::to_wstring(seconds), std::to_wstring(used)}});
    }
    m_connectCheckDelay = static_cast<LONG>(used);
    m_ownCheckDelay = m_connectCheckDelay;
}

void AlarmManager::Shutdown() {
    KRVN::CountedPtr<ComPortWaiter> watcher;
    {
        std::lock_guard<std::mutex> hold(m_watcherLock);
        m_shutDown = true;
        watcher = m_portWatcher;
    }
    m_policyWatch.Stop(false);
    if (watcher) {
        watcher->Stop(false);
    }
    m_desktop.Close();
}

bool AlarmManager::FinishPasses(DWORD boundMs) {
    const Deadline deadline = DeadlineAfter(boundMs);
    // A press the watcher has seen goes through its pass before the watcher
    // ends.
    if (const auto watcher = PortWatcher();
        watcher && watcher->Lock(MsLeft(deadline), false) == WAIT_TIMEOUT) {
        return false;
    }
    {
        std::unique_lock<std::mutex> hold(m_inFlightLock);
        if (!m_noPassInFlight.wait_until(hold, deadline,
                                         [this] { return m_passesInFlight == 0; })) {
            return false;
        }
    }
    return m_events.WaitUntilWritten(MsLeft(deadline));
}

AlarmManager::PassInFlight::PassInFlight(AlarmManager& manager) : m_manager(manager) {
    std::lock_guard<std::mutex> hold(m_manager.m_inFlightLock);
    ++m_manager.m_passesInFlight;
}

AlarmManager::PassInFlight::~PassInFlight() {
    std::lock_guard<std::mutex> hold(m_manager.m_inFlightLock);
    if (--m_manager.m_passesInFlight == 0) {
        m_manager.m_noPassInFlight.notify_all();
    }
}

void AlarmManager::Report(Event event) {
    m_events.Post([event = std::move(event)](EventReporter& reporter) { reporter.Report(event); });
}

std::int32_t AlarmManager::AlarmAll(const AlarmSource& source) {
    const PassInFlight inFlight(*this);
    const Clock::time_point began = Clock::now();
    const Deadline deadline = began + std::chrono::milliseconds(kAlarmPassBoundMs);
    const Snapshot entries = Servers();
    NoticeEndedConnections(entries);
    std::vector<Order> orders;
    orders.reserve(entries.size());
    // Each state is read once: the checker may change it meanwhile, and an
    // entry seen unreachable first and reachable next would get no order.
    std::vector<bool> reachableNow;
    reachableNow.reserve(entries.size());
    for (const auto& entry : entries) {
        reachableNow.push_back(entry.second->GetStateCode() == 0);
    }
    std::vector<size_t> slow;
    for (const bool reachable : {true, false}) {
        // Orders on open connections go out first: a worker starting on a
        // slow order would only compete with them for the processor.
        slow.clear();
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& entry = entries[i].second;
            if (reachableNow[i] != reachable) {
                continue;
            }
            if (entry->SendAlarmNow()) {
                orders.push_back({i, MsSince(began), nullptr, nullptr});
            } else {
                slow.push_back(i);
            }
        }
        for (const size_t i : slow) {
            auto progress = std::make_shared<OrderProgress>();
            auto result = SendOnWorker(entries[i].second, progress, began, deadline);
            orders.push_back({i, 0, std::move(result), std::move(progress)});
        }
    }
    // Named while the orders are on their way: a lookup may take a while.
    const ClientCaller caller =
        source.kind == AlarmSource::Kind::ClientCall ? DescribeCaller() : ClientCaller();
    bool failed = false;
    std::vector<OrderOutcome> outcomes;
    outcomes.reserve(orders.size());
    for (const Order& order : orders) {
        OrderOutcome outcome{entries[order.server].first, true, 0, AlarmTransport::Tcp,
                             order.sentNowMs};
        if (order.result) {
            // Every step of an order ends by the deadline; the grace lets one
            // that got through at the last moment be counted as sent.
            outcome.done =
                order.result->WaitFor(MsLeft(deadline + kOrderGrace)) == PendingResult::Wait::Done;
            outcome.code = order.result->Result();
            outcome.transport = order.progress->transport;
            outcome.elapsedMs = order.progress->elapsedMs;
            failed = !outcome.done || outcome.code != 0 || failed;
        }
        outcomes.push_back(std::move(outcome));
    }
    AlarmPassRecord pass{std::to_wstring(++m_passes), source, caller, std::move(outcomes),
                         MsSince(began)};
    m_events.Post(
        [pass = std::move(pass)](EventReporter& reporter) { ReportAlarmPass(reporter, pass); });
    return failed ? -1 : 0;
}

void AlarmManager::NoticeEndedConnections(const Snapshot& entries) {
    std::vector<SocketConnector*> connections;
    connections.reserve(entries.size());
    for (const auto& [address, entry] : entries) {
        connections.push_back(&entry->SocketTransport());
    }
    SocketConnector::NoticeEndedConnections(connections);
}

std::int32_t AlarmManager::SendAlarmTo(const std::wstring& address) {
    const Entry entry = Find(address);
    if (!entry) {
        return kNotListed;
    }
    const PassInFlight inFlight(*this);
    entry->SocketTransport().NoticeEnd();
    if (entry->SendAlarmNow()) {
        return 0;
    }
    const Deadline deadline = DeadlineAfter(kAlarmPassBoundMs);
    const auto order = SendOnWorker(entry, nullptr, Clock::now(), deadline);
    if (order->WaitFor(MsLeft(deadline + kOrderGrace)) != PendingResult::Wait::Done) {
        return PendingResult::kTimedOut;
    }
    return order->Result();
}

bool AlarmManager::AddServer(IUnknown* server) {
    std::wstring address;
    const auto object = ServerWithAddress(server, address);
    return object && Insert(address, Entry(new ConnectorHolder(object.get())));
}

std::int32_t AlarmManager::TryConnectAdd(IUnknown* server, bool* listed) {
    std::wstring address;
    const auto object = ServerWithAddress(server, address);
    if (!object) {
        return E_NOINTERFACE;
    }
    const auto entry = Entry(new ConnectorHolder(object.get()));
    const std::int32_t code = entry->Check();
    const bool inserted = code == 0 && Insert(address, entry);
    if (listed) {
        *listed = inserted;
    }
    return code;
}

bool AlarmManager::RemoveServer(const std::wstring& address) {
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
    return static_cast<bool>(removed);
}

HRESULT AlarmManager::SaveList() {
    // One save at a time, each from a snapshot taken once the one before is
    // written: an earlier snapshot written last would bring back a removed
    // server, or lose an added one, at the next start.
    std::lock_guard<std::mutex> saving(m_storeLock);
    // The snapshot keeps every entry, and so its server object, alive while
    // its record is made.
    const HRESULT result = SaveRecordsOf(Servers());
    // The list stays as it is in the service; the administrator learns that
    // the stored one is behind.
    if (FAILED(result)) {
        Report({EventType::Error,
                MSG_LIST_NOT_SAVED,
                {HexCode(result), SystemErrorText(static_cast<DWORD>(result))}});
    }
    return result;
}

HRESULT AlarmManager::LoadList() {
    std::vector<KRVN::com_ptr<IQNServer>> loaded;
    const HRESULT result = LoadServerObjects(loaded);
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
    m_notifier.SetSink(sink);
}

std::wstring AlarmManager::GetComPort() const {
    if (const auto watcher = PortWatcher()) {
        return watcher->PortName();
    }
    // Before Start only the stored name is there.
    std::wstring stored;
    KRVN::ReadComPort(stored);
    return stored;
}

HRESULT AlarmManager::SetComPort(const std::wstring& name) {
    if (!IsSerialPortName(name)) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> saving(m_storeLock);
    if (m_managedPort) {
        return E_ACCESSDENIED;
    }
    m_ownPort = name;
    if (const auto watcher = PortWatcher()) {
        watcher->SetPortName(name);
    }
    // The watcher uses the new port all the same; the caller learns that it
    // will not survive a restart.
    return KRVN::SaveComPort(name);
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

bool AlarmManager::Insert(const std::wstring& key, const Entry& entry) {
    const auto mark = ListingMark(entry);
    // A copy goes in, so a refused entry is freed by the caller, outside the locks.
    KRVN::CSyncGuard hold(&m_lock);
    std::lock_guard<std::mutex> list(m_listLock);
    if (!m_servers.try_emplace(key, entry).second) {
        return false;
    }
    if (mark) {
        mark->SetListed(true);
    }
    return true;
}

AlarmManager::Entry AlarmManager::Find(const std::wstring& address) const {
    std::lock_guard<std::mutex> list(m_listLock);
    const auto found = m_servers.find(address);
    return found == m_servers.end() ? Entry() : found->second;
}

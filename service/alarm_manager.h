#pragma once
// The single central object of the service: the list of disk servers that
// receive the alarm, the addresses found reachable at the last check, the
// aggregate connection state and the desktop client's state callback, the
// red-button port watcher and the periodic connection checker. The COM
// objects, the service host and the port watcher reach it through Instance.
//
// Locks, taken in this order and never the other way round:
// - the store lock (m_storeLock): held by SaveList from its snapshot of the
//   list until the registry has it, and by SetComPort and a change of the
//   port's policy from the watcher's name to the stored one, so saves land
//   in the order they were made and a put never undoes a managed port;
// - the manager lock (m_lock): held by the checker while it records one
//   probe's result, and by insertions;
// - the list lock (m_listLock): held only for the moment the map is read or
//   changed.
// Neither is ever held across network I/O: a probe that hangs holds up no
// list edit, and an alarm never waits for a probe.
// Work on an entry outside the locks holds a shared reference to it, so a
// concurrent removal never frees an entry in use. Restarts of the checker
// (RemoveServer, RestartChecker) are serialised by m_checkerControl.

#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "com/com_ptr.h"
#include "common/crit_sect.h"
#include "config/counted_ptr.h"
#include "connections/address_less.h"
#include "connections/connector_holder.h"
#include "connections/pending_result.h"
#include "connections/winsock_session.h"
#include "contract/TolvaneLib.h"
#include "service/alarm_pass_events.h"
#include "service/change_icon_notifier.h"
#include "service/connect_checker.h"
#include "service/desktop_program.h"
#include "service/event_queue.h"
#include "service/policy_watch.h"
#include "service/settings_policy.h"

class ComPortWaiter;

class AlarmManager {
public:
    using Entry = KRVN::CountedPtr<ConnectorHolder>;
    // Keys and entries in list order (ascending by AddressLess).
    using Snapshot = std::vector<std::pair<std::wstring, Entry>>;

    // Seconds between two connection checks; a stored value outside the
    // range is taken as its nearer end.
    static constexpr LONG kDefaultConnectCheckDelay = 60;
    static constexpr DWORD kMinConnectCheckDelay = 1;
    static constexpr DWORD kMaxConnectCheckDelay = 86400;
    // SendAlarmTo's result for an address that is not listed.
    static constexpr std::int32_t kNotListed = ERROR_NOT_FOUND;

    // The service's one manager, made on first use and never destroyed: its
    // threads run until the process ends.
    static AlarmManager& Instance();

    // Managers of their own are for tests; the service uses Instance.
    AlarmManager();
    ~AlarmManager();
    AlarmManager(const AlarmManager&) = delete;
    AlarmManager& operator=(const AlarmManager&) = delete;

    // Makes the settings key and every key below it the service's, loads the
    // stored list and settings (a stored port name that is no serial port
    // of this machine is reported and not watched), applies the
    // organisation's policy over them (settings_policy.h), starts the
    // checker and the port watcher, which reports its port's failures to
    // reporter (it must outlive the watcher), as do the alarm passes and
    // Report, and then the watch of the policy. Raises CAException when a
    // thread cannot be started.
    void Start(EventReporter& reporter);
    // Where the passes and Report write, for a manager that is not started.
    void ReportTo(EventReporter& reporter) { m_events.SetReporter(reporter); }
    // Writes event after everything reported before, on a worker: the
    // caller never waits for the event log.
    void Report(Event event);
    // Asks the port watcher and the policy watch to stop (without waiting)
    // and closes our desktop program "Alarm.exe" if one runs
    // (desktop_program.h).
    void Shutdown();
    // After Shutdown: waits until the port watcher has ended and no alarm
    // pass (a press, a client's SendAlarm) is under way any more, then until
    // every event posted has been written; false when boundMs passed first
    // (call again to go on waiting).
    bool FinishPasses(DWORD boundMs);

    // One bound for a whole alarm pass (and for one server's alarm): every
    // step of an order ends by then, and a server still busy counts as
    // failed. An order that got through in the last moment is still
    // collected as sent within kOrderGrace after the bound.
    static constexpr DWORD kAlarmPassBoundMs = 10000;
    static constexpr std::chrono::milliseconds kOrderGrace{500};

    // Sends the alarm to every listed server at once, those reachable at the
    // last check first: orders on open connections go out on this thread,
    // anything that may block on a peer goes to a worker of its own. 0 when
    // every order went out within the bound, -1 when any did not. Once the
    // result is known the pass is reported (its source, each server's
    // outcome, a summary), without waiting for the event log.
    std::int32_t AlarmAll(const AlarmSource& source);
    // 0, the entry's error, kNotListed, or PendingResult::kTimedOut when the
    // order did not go out within the bound.
    std::int32_t SendAlarmTo(const std::wstring& address);

    // Lists the server object (one that answers IQNServer) under its
    // Address, unless that address is listed already; a null Address counts
    // as empty. Objects without IQNServer are not listed. A listed QNServer
    // is marked (IListedServer), so its Address stays the entry's key until
    // it is removed. True when the object was listed.
    bool AddServer(IUnknown* server);
    // As AddServer, but only when a probe of the new entry gives 0; returns
    // the probe's result (E_NOINTERFACE for an object without IQNServer);
    // listed, when given, tells whether the object was listed.
    std::int32_t TryConnectAdd(IUnknown* server, bool* listed = nullptr);
    // Stops the checker, removes the address (its object may take another
    // Address again) and starts the checker again, whether or not the
    // address was listed. True when it was.
    bool RemoveServer(const std::wstring& address);
    // The store's result; a failure is reported (event 13) and the list
    // stays as it is.
    HRESULT SaveList();
    HRESULT LoadList();
    // Stops the checker, forgets the state and starts the checker again, so
    // its first check is always reported. Raises CAException when the
    // checker cannot be started again.
    void RestartChecker();

    void SetChangeIconSink(IChangeIconEvents* sink);
    std::wstring GetComPort() const;
    // Watches the port from now on and stores its name; the store's result.
    // A name that is no serial port of this machine (serial_port_name.h) is
    // refused with E_INVALIDARG, and any name while the organisation's
    // policy sets the port with E_ACCESSDENIED: neither watched nor stored.
    HRESULT SetComPort(const std::wstring& name);

    size_t ServerCount() const;
    LONG CurrentState() const noexcept { return m_state.load(); }
    // Null until Start.
    KRVN::CountedPtr<ComPortWaiter> PortWatcher() const;
    Snapshot Servers() const;
    // The period in effect: the policy's, else the stored one.
    LONG ConnectCheckDelay() const noexcept { return m_connectCheckDelay; }

private:
    // Counts an alarm pass for as long as it is under way.
    class PassInFlight {
    public:
        explicit PassInFlight(AlarmManager& manager);
        ~PassInFlight();
        PassInFlight(const PassInFlight&) = delete;
        PassInFlight& operator=(const PassInFlight&) = delete;

    private:
        AlarmManager& m_manager;
    };

    // Before a pass's orders go out: the connections whose servers have
    // already ended them take a new one instead of losing the order.
    static void NoticeEndedConnections(const Snapshot& entries);
    friend class ConnectChecker;

    // Winsock outlives every socket of the entries below.
    WinsockSession m_winsock;
    ConnectChecker m_checker;
    std::map<std::wstring, Entry, AddressLess> m_servers;
    std::set<std::wstring, AddressLess> m_connected;
    ChangeIconNotifier m_notifier;
    // An eConnectState value, written by the checker thread (and by
    // RestartChecker while the checker is stopped).
    std::atomic<LONG> m_state{0};
    KRVN::CCritSect m_lock;
    mutable std::mutex m_listLock;
    std::mutex m_checkerControl;
    std::mutex m_storeLock;
    // Set once by Start; Shutdown may come from the control handler while
    // Start still runs, so both hand the watcher over under this lock.
    mutable std::mutex m_watcherLock;
    KRVN::CountedPtr<ComPortWaiter> m_portWatcher;
    bool m_shutDown = false;
    DesktopProgram m_desktop;
    std::atomic<LONG> m_connectCheckDelay{kDefaultConnectCheckDelay};

    // The service's own settings, which apply where the policy sets none:
    // the port loaded at start or last set by a client (under m_storeLock),
    // and the stored check period read at start.
    std::wstring m_ownPort;
    LONG m_ownCheckDelay = kDefaultConnectCheckDelay;
    // The port the policy sets, under m_storeLock.
    std::optional<std::wstring> m_managedPort;
    // Serialises ApplyPolicy: one read of the policy at a time.
    std::mutex m_policyLock;
    SettingsPolicy m_policy;

    // Numbers the passes in their events.
    std::atomic<unsigned long> m_passes{0};
    std::mutex m_inFlightLock;
    std::condition_variable m_noPassInFlight;
    size_t m_passesInFlight = 0;
    // Applies the policy on its own thread; stopped before anything goes.
    PolicyWatch m_policyWatch;
    // Declared last: it is destroyed first, once its reports are written.
    EventQueue m_events;

    void StartChecker();
    // Reads the organisation's policy again and applies what changed: the
    // port watched (the policy's, else the service's own) and the check
    // period. Each change is reported. running: the checker and the port
    // watcher have been started and take the change now (the checker
    // restarts on a new period).
    void ApplyPolicy(bool running);
    // The port the watcher is to watch; the caller holds m_storeLock.
    std::wstring EffectivePortLocked() const;
    // Reads ConnectCheckDelay, kept within its range (reported when it was not).
    void LoadCheckDelay(EventReporter& reporter);
    // Lists entry under key unless an equal key is listed already; true
    // when it was listed.
    bool Insert(const std::wstring& key, const Entry& entry);
    Entry Find(const std::wstring& address) const;
};

#pragma once
// The seeded fault campaign. It sets up the service (Tolvane.exe as the
// plain local server, plain_server.h), the dozen disk servers
// (fleet_layout.h) and the virtual red button, runs the seed's schedule
// (schedule.h) for its minutes, then a bounded tail that clears every fault,
// ends every client and checks that the service is whole again: a last
// press and SendAlarm reach every server, the aggregate state is "all
// connected", the service answers, and its threads and handles are back at
// their level. Every order on the way is judged by the oracle (oracle.h).

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "com/com_ptr.h"
#include "contract/TolvaneLib.h"
#include "tests/chaos/alarm_pass_log.h"
#include "tests/chaos/bounded_call.h"
#include "tests/chaos/disk_fleet.h"
#include "tests/chaos/oracle.h"
#include "tests/chaos/plain_server.h"
#include "tests/chaos/run_log.h"
#include "tests/chaos/schedule.h"
#include "tests/chaos/tray_client_process.h"
#include "tests/e2e/service/process_usage.h"

namespace krvn_chaos {

struct CampaignSettings {
    std::uint64_t seed = 1;
    double minutes = 1.5;
    std::wstring folder; // the run's folder (logs, consoles, the step log)
};

class Campaign {
public:
    explicit Campaign(CampaignSettings settings);
    ~Campaign();
    Campaign(const Campaign&) = delete;
    Campaign& operator=(const Campaign&) = delete;

    // Runs the campaign and ends everything it started; true when it ran to
    // its end without a violation.
    bool Run();

private:
    enum class PressExpectation {
        MustAlarm,  // no client can take the press: the alarm must go out
        MayForward, // a live client's sink may take it (or the alarm goes out)
        MayIgnore,  // a live client holds the button with forwarding off
        Unplugged,  // the button's adapter is out: nothing may happen
    };

    struct Client {
        std::unique_ptr<TrayClientProcess> process;
        bool advised = false; // its Advise was answered with S_OK
    };

    bool Setup();
    void WarmUp();
    void Tail();
    void CleanUp();
    void PrintSummary(ULONGLONG scheduleMs, ULONGLONG tailMs, unsigned steps);

    void Execute(const Step& step);
    void AfterStep();
    void Press();
    void SendAlarm();
    void SendAlarmToOne(const Step& step);
    void Remove(int slot);
    void Add(int slot);
    void TryConnect(int slot);
    void RefreshState();
    void Fault(const Step& step);
    void Clear(int target);
    void Restart(int target);
    void Unplug();
    void PlugIn();
    void StartClient(const Step& step);
    void EndClient(int id, bool kill);

    PressExpectation ExpectPress() const;
    // A call into the service within the call bound; a call that does not
    // return in time is a violation.
    CallOutcome Call(const std::string& name, std::function<HRESULT()> call);
    // Every server's listing as the service has it, compared with the
    // campaign's (strict) or just taken; the service's wins from then on.
    // A server with an edit still out is left alone.
    void VerifyList(bool strict = true);
    // Whether the server is listed, as far as the campaign can know: not
    // while an edit of it that outlived its bound has still not returned.
    Listing ListingOf(int slot) const;
    // A list edit that outlived its bound.
    void EditStillOut(int slot, const CallOutcome& outcome);
    void AddExtra();

    std::vector<size_t> Marks();
    bool AnyArrivalSince(const std::vector<size_t>& marks);
    // Waits until every listed server (of slots; all when empty) that takes
    // orders got one since marks, or the order's bound (and slack) from
    // startUtc has passed; a second, for one whose order pass (or
    // reportedFailed, for one server's SendAlarm) reported failed.
    void WaitForArrivals(const std::vector<size_t>& marks, long long startUtc,
                         const std::vector<int>& slots, const AlarmPass* pass, bool reportedFailed);
    OrderFacts Facts(int slot, const std::vector<size_t>& marks, long long startUtc,
                     const AlarmPass* pass);
    std::vector<OrderFacts> AllFacts(const std::vector<size_t>& marks, long long startUtc,
                                     const AlarmPass* pass);
    // The next finished pass from source, waiting at most boundMs, or less
    // once enough() holds.
    const AlarmPass* AwaitPass(PassSource source, DWORD boundMs,
                               const std::function<bool()>& enough = {});
    void Claim(const AlarmPass& pass);
    void AwaitLineQuiet();
    // Waits until the bound of every order sent so far has passed.
    void AwaitOrderBounds();
    void PollClients();

    const CampaignSettings m_settings;
    RunLog m_log;
    Oracle m_oracle;
    Schedule m_schedule;
    DiskFleet m_fleet;
    PlainServer m_service;
    AlarmPassLog m_passes;
    BoundedCalls m_calls;
    KRVN::com_ptr<IQNServers> m_servers;
    std::map<int, Client> m_clients;

    bool m_listed[kServers];
    // Edits abandoned at their bound, until they return: slot, returned.
    std::vector<std::pair<int, std::shared_ptr<const std::atomic<bool>>>> m_openEdits;
    Listing m_extra = Listing::No;
    bool m_plugged = true;
    bool m_held = false;
    int m_buttonSink = 0; // the client whose red-button sink the service holds; 0: none
    unsigned long m_claimedPass = 0;
    long long m_lastOrderUtc = 0;
    ULONGLONG m_lineQuietFrom = 0;
    bool m_serviceLost = false;
    bool m_cleanedUp = false;
    // Sinks of clients killed while the service held them: Wine's COM keeps
    // one event handle for each such proxy the service releases.
    size_t m_killedSinks = 0;
    krvn_e2e::ProcessUsage m_baseline;
    krvn_e2e::ProcessUsage m_end;
};

} // namespace krvn_chaos

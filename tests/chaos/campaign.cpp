#include "tests/chaos/campaign.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "com/bstr.h"
#include "com/variant.h"
#include "tests/e2e/service/process_usage.h"
#include "tests/e2e/service/tolvane_service.h"
#include "tests/support/virtual_button.h"
#include "tests/support/wait.h"

namespace krvn_chaos {

namespace {

using krvn_test::VirtualButton;

// Longest a client call may take before the campaign calls it hung: the
// service's own bound, and room for Wine on a loaded machine.
constexpr DWORD kCallBoundMs = 15000;
// What the service gives a red-button sink to answer a press.
constexpr DWORD kSinkBoundMs = 2000;
// The watcher handles one change of the line at a time: the next comes
// after this much quiet.
constexpr DWORD kLineSettleMs = 300;
constexpr DWORD kCheckDelaySeconds = 3;
constexpr DWORD kButtonWaitMs = 10000;
constexpr DWORD kClientReadyMs = 30000;
constexpr DWORD kClientQuitMs = 10000;
// Substitute servers end by themselves this long after the campaign's end
// at the latest.
constexpr int kServerSpareSeconds = 600;
constexpr DWORD kPollMs = 20;
// How long an order the service reported failed is still looked for.
constexpr long long kFailedGraceMs = 1000;
// The extra server's port: nothing listens on its address at all.
constexpr ULONG kExtraPort = 1;
// The tail's own bounds.
constexpr DWORD kStragglerWaitMs = 30000;
constexpr DWORD kFinalStateWaitMs = 30000;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::string Hex(HRESULT value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(value));
    return text;
}

size_t CountProcesses(const wchar_t* name) {
    const KRVN::unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    size_t count = 0;
    if (snapshot && ::Process32FirstW(snapshot.get(), &entry)) {
        do {
            count += ::lstrcmpiW(entry.szExeFile, name) == 0;
        } while (::Process32NextW(snapshot.get(), &entry));
    }
    return count;
}

// A QNServer of the service's with these settings.
HRESULT NewServer(const std::wstring& address, const std::wstring& password, ULONG port,
                  KRVN::com_ptr<IQNServer>& server) {
    const HRESULT hr = ::CoCreateInstance(CLSID_QNServer, nullptr, CLSCTX_LOCAL_SERVER,
                                          __uuidof(IQNServer), server.put_void());
    if (FAILED(hr)) {
        return hr;
    }
    const KRVN::unique_bstr addressText(address.c_str());
    const KRVN::unique_bstr passwordText(password.c_str());
    server->put_Address(addressText.get());
    server->put_Password(passwordText.get());
    return server->put_Port(port);
}

// The listed addresses through _NewEnum.
HRESULT Enumerate(const KRVN::com_ptr<IQNServers>& servers, std::vector<std::wstring>& addresses) {
    KRVN::com_ptr<IUnknown> unknown;
    if (const HRESULT hr = servers->get__NewEnum(unknown.put()); FAILED(hr)) {
        return hr;
    }
    const auto enumerator = unknown.try_query<IEnumVARIANT>();
    if (!enumerator) {
        return E_NOINTERFACE;
    }
    for (;;) {
        KRVN::unique_variant item;
        ULONG fetched = 0;
        const HRESULT hr = enumerator->Next(1, item.put(), &fetched);
        if (FAILED(hr) || fetched == 0) {
            return FAILED(hr) ? hr : S_OK;
        }
        if (V_VT(&item.get()) != VT_DISPATCH || !V_DISPATCH(&item.get())) {
            return E_UNEXPECTED;
        }
        const auto server =
            KRVN::com_ptr<IDispatch>(V_DISPATCH(&item.get())).try_query<IQNServer>();
        KRVN::unique_bstr address;
        if (!server || FAILED(server->get_Address(address.put()))) {
            return E_UNEXPECTED;
        }
        addresses.emplace_back(address ? address.get() : L"");
    }
}

std::string ListText(const std::vector<std::wstring>& addresses) {
    std::string text;
    for (const std::wstring& address : addresses) {
        text += (text.empty() ? "" : " ") + Narrow(address);
    }
    return text.empty() ? "(none)" : text;
}

std::string ClientName(const TrayClientProcess& client) {
    return "client " + std::to_string(client.Id()) + " (icon " + IconModeName(client.Icon()) +
           ", button " + ButtonModeName(client.Button()) + ")";
}

std::string TargetKind(int target) {
    return target == kRpcProcess ? "rpc " : "tcp ";
}

} // namespace

Campaign::Campaign(CampaignSettings settings)
    : m_settings(std::move(settings)), m_log(m_settings.folder + L"\\steps.log"),
      m_oracle(m_settings.seed, m_log), m_schedule(m_settings.seed),
      m_fleet(m_settings.folder, static_cast<int>(m_settings.minutes * 60) + kServerSpareSeconds),
      m_passes(m_settings.folder + L"\\tolvane-console.txt") {
    std::fill(std::begin(m_listed), std::end(m_listed), true);
}

Campaign::~Campaign() {
    CleanUp();
}

bool Campaign::Run() {
    char seed[32];
    std::snprintf(seed, sizeof seed, "%llu", static_cast<unsigned long long>(m_settings.seed));
    m_log.Show(std::string("chaos campaign: seed ") + seed + ", " +
               std::to_string(m_settings.minutes) + " minutes of schedule, logs in " +
               Narrow(m_settings.folder));
    const ULONGLONG began = ::GetTickCount64();
    unsigned steps = 0;
    ULONGLONG scheduleMs = 0;
    if (Setup()) {
        m_oracle.SetStep("warm-up");
        WarmUp();
        m_baseline = krvn_e2e::RestingUsage(m_service.ProcessId(), 5);
        std::ostringstream text;
        text << "service before the schedule: " << m_baseline;
        m_log.Show(text.str());

        const ULONGLONG scheduleStart = ::GetTickCount64();
        const auto deadline =
            scheduleStart + static_cast<ULONGLONG>(m_settings.minutes * 60.0 * 1000.0);
        while (::GetTickCount64() < deadline && !m_serviceLost && m_oracle.HarnessFailures() == 0) {
            const Step step = m_schedule.Next();
            ++steps;
            m_oracle.SetStep(std::to_string(step.number));
            m_log.Write(Describe(step));
            krvn_test::PauseFor(step.pauseMs);
            Execute(step);
            AfterStep();
        }
        scheduleMs = ::GetTickCount64() - scheduleStart;
        if (!m_serviceLost && m_oracle.HarnessFailures() == 0) {
            m_oracle.SetStep("tail");
            Tail();
        }
    }
    const ULONGLONG tailMs = ::GetTickCount64() - began - scheduleMs;
    CleanUp();
    PrintSummary(scheduleMs, tailMs, steps);
    return m_oracle.Violations() == 0 && m_oracle.HarnessFailures() == 0;
}

bool Campaign::Setup() {
    if (CountProcesses(L"Tolvane.exe") != 0) {
        m_oracle.HarnessFailure("a Tolvane.exe already runs in this prefix");
        return false;
    }
    krvn_e2e::StopService();
    if (auto cleared = krvn_e2e::Tolvane(L"-UnregServer"); !cleared) {
        m_oracle.HarnessFailure("Tolvane.exe -UnregServer: " + std::string(cleared.message()));
        return false;
    }
    krvn_e2e::ClearSettings();
    if (auto registered = krvn_e2e::Tolvane(L"-RegServer"); !registered) {
        m_oracle.HarnessFailure("Tolvane.exe -RegServer: " + std::string(registered.message()));
        return false;
    }
    krvn_e2e::SetConnectCheckDelay(kCheckDelaySeconds);
    krvn_e2e::SetComPortSetting(VirtualButton::Port());
    VirtualButton::Release();
    VirtualButton::ForgetDtr();
    if (auto started = m_fleet.Start(); !started) {
        m_oracle.HarnessFailure(started.message());
        return false;
    }
    if (auto started = m_service.Start(m_settings.folder + L"\\tolvane-console.txt"); !started) {
        m_oracle.HarnessFailure(started.message());
        return false;
    }
    if (!VirtualButton::WaitForDtr(kButtonWaitMs)) {
        m_oracle.HarnessFailure("Tolvane.exe does not watch the button's port");
        return false;
    }
    // The watched button tells the program runs; a moment later its class
    // objects are surely registered, so COM finds this process and starts
    // no second one.
    krvn_test::SettleFor(1000);
    auto servers = std::make_shared<KRVN::com_ptr<IQNServers>>();
    const CallOutcome created = Call("CoCreateInstance(QNServers)", [servers] {
        return ::CoCreateInstance(CLSID_QNServers, nullptr, CLSCTX_LOCAL_SERVER,
                                  __uuidof(IQNServers), servers->put_void());
    });
    if (!created.returned || FAILED(created.result)) {
        m_oracle.HarnessFailure("no QNServers from the service: " + Hex(created.result));
        return false;
    }
    m_servers = *servers;
    if (CountProcesses(L"Tolvane.exe") != 1) {
        m_oracle.HarnessFailure("COM started a second Tolvane.exe");
        return false;
    }
    std::fill(std::begin(m_listed), std::end(m_listed), false);
    for (int slot = 0; slot < kServers; ++slot) {
        TryConnect(slot);
    }
    VerifyList();
    return m_oracle.HarnessFailures() == 0;
}

void Campaign::WarmUp() {
    // The call threads, connections and type information that the service
    // sets up once belong in the level its end is compared with.
    for (int press = 0; press < 4; ++press) {
        Press();
    }
    SendAlarm();
    Step one;
    one.server = 0;
    SendAlarmToOne(one);
    RefreshState();
    AfterStep();
}

void Campaign::Execute(const Step& step) {
    switch (step.kind) {
    case StepKind::Press:
        Press();
        break;
    case StepKind::SendAlarm:
        SendAlarm();
        break;
    case StepKind::SendAlarmToOne:
        SendAlarmToOne(step);
        break;
    case StepKind::Remove:
        Remove(step.server);
        break;
    case StepKind::Add:
        Add(step.server);
        break;
    case StepKind::TryConnect:
        TryConnect(step.server);
        break;
    case StepKind::RefreshState:
        RefreshState();
        break;
    case StepKind::Fault:
        Fault(step);
        break;
    case StepKind::Clear:
        Clear(step.server);
        break;
    case StepKind::Restart:
        Restart(step.server);
        break;
    case StepKind::Unplug:
        Unplug();
        break;
    case StepKind::PlugIn:
        PlugIn();
        break;
    case StepKind::StartClient:
        StartClient(step);
        break;
    case StepKind::EndClient:
        EndClient(step.client, step.kill);
        break;
    }
}

void Campaign::AfterStep() {
    PollClients();
    // An edit that returned late has done whatever it did: the service's
    // list is the campaign's again.
    const auto returned = std::remove_if(m_openEdits.begin(), m_openEdits.end(),
                                         [](const auto& edit) { return edit.second->load(); });
    if (returned != m_openEdits.end()) {
        m_openEdits.erase(returned, m_openEdits.end());
        VerifyList(false);
    }
    m_fleet.Poll();
    for (const std::string& note : m_fleet.TakeNotes()) {
        m_oracle.Note(note);
    }
    m_passes.Poll();
    for (const AlarmPass* pass : m_passes.AllFinishedAfter(m_claimedPass)) {
        m_oracle.Note("alarm " + std::to_string(pass->number) + " was no step's");
        m_claimedPass = pass->number;
    }
    for (const std::string& line : m_passes.TakeOtherLines()) {
        m_log.Write("  service: " + line);
    }
    if (!m_serviceLost && !m_service.Running()) {
        m_serviceLost = true;
        m_oracle.Violation("service-died", "Tolvane.exe ended during the campaign");
    }
}

Campaign::PressExpectation Campaign::ExpectPress() const {
    if (!m_plugged) {
        return PressExpectation::Unplugged;
    }
    const auto found = m_clients.find(m_buttonSink);
    if (found == m_clients.end() || !found->second.process->Alive()) {
        return PressExpectation::MustAlarm;
    }
    if (!found->second.advised) {
        return PressExpectation::MayIgnore;
    }
    switch (found->second.process->Button()) {
    case ButtonMode::Take:
        return PressExpectation::MayForward;
    case ButtonMode::Hang:
        // A sink that never answers must not hold the alarm back.
        return PressExpectation::MustAlarm;
    default:
        return PressExpectation::MayIgnore;
    }
}

void Campaign::Press() {
    const PressExpectation expectation = ExpectPress();
    AwaitLineQuiet();
    const std::vector<size_t> marks = Marks();
    TrayClientProcess* sink = expectation == PressExpectation::MayForward
                                  ? m_clients.at(m_buttonSink).process.get()
                                  : nullptr;
    const long sinkPresses = sink ? sink->Presses() : 0;
    const auto sinkTook = [&] {
        sink->Poll();
        return sink->Presses() > sinkPresses;
    };
    const long long pressUtc = UtcMs();
    m_held = !m_held;
    if (!(m_held ? VirtualButton::Press() : VirtualButton::Release())) {
        m_oracle.HarnessFailure("the virtual button did not change");
        return;
    }
    m_lineQuietFrom = ::GetTickCount64() + kLineSettleMs;
    const AlarmPass* pass = nullptr;
    switch (expectation) {
    case PressExpectation::Unplugged:
        m_oracle.Count("press: button unplugged");
        pass = AwaitPass(PassSource::Button, 1000, [] { return false; });
        if (pass) {
            m_oracle.Violation("alarm-while-unplugged",
                               "alarm " + std::to_string(pass->number) +
                                   " followed a press while the button's adapter was out");
        }
        return;
    case PressExpectation::MustAlarm:
        m_oracle.Count("press: alarm due");
        pass = AwaitPass(PassSource::Button,
                         kSinkBoundMs + Oracle::kBoundMs + Oracle::kSlackMs + 1000);
        break;
    case PressExpectation::MayForward:
        m_oracle.Count("press: a live sink may take it");
        pass = AwaitPass(PassSource::Button, kSinkBoundMs * 2, sinkTook);
        break;
    case PressExpectation::MayIgnore:
        m_oracle.Count("press: a live client may ignore it");
        pass = AwaitPass(PassSource::Button, kSinkBoundMs + 1000);
        break;
    }
    // Orders arriving tell a pass is under way, however long it takes.
    if (!pass && expectation != PressExpectation::MustAlarm && AnyArrivalSince(marks)) {
        pass = AwaitPass(PassSource::Button, Oracle::kBoundMs + Oracle::kSlackMs);
    }
    m_lineQuietFrom = ::GetTickCount64() + kLineSettleMs;
    if (!pass) {
        if (expectation == PressExpectation::MustAlarm) {
            m_oracle.Violation("press-lost", "no client could take the press, yet no alarm "
                                             "pass followed it");
        } else if (expectation == PressExpectation::MayForward && !sinkTook()) {
            m_oracle.Violation("press-lost", "the press reached neither the sink of " +
                                                 ClientName(*sink) + " nor the servers");
        } else {
            m_oracle.Count(expectation == PressExpectation::MayForward ? "outcome: taken by a sink"
                                                                       : "outcome: ignored");
        }
        return;
    }
    m_oracle.Count("outcome: alarmed");
    m_lastOrderUtc = UtcMs();
    WaitForArrivals(marks, pressUtc, {}, pass, false);
    m_oracle.CheckPass("press", *pass, AllFacts(marks, pressUtc, pass), nullptr);
}

void Campaign::SendAlarm() {
    const std::vector<size_t> marks = Marks();
    const long long startUtc = UtcMs();
    m_lastOrderUtc = startUtc + kCallBoundMs;
    m_oracle.Count("call: SendAlarm");
    const auto servers = m_servers;
    const CallOutcome outcome = Call("SendAlarm", [servers] { return servers->SendAlarm(); });
    if (!outcome.returned) {
        return;
    }
    m_lastOrderUtc = UtcMs();
    const AlarmPass* pass = AwaitPass(PassSource::Program, 5000);
    WaitForArrivals(marks, startUtc, {}, pass, false);
    const std::vector<OrderFacts> facts = AllFacts(marks, startUtc, pass);
    if (!pass) {
        m_oracle.Violation("no-report", "SendAlarm gave " + Hex(outcome.result) +
                                            ", but the service printed no alarm pass for it");
        m_oracle.CheckUnreported("SendAlarm", facts);
        return;
    }
    if (pass->processId != ::GetCurrentProcessId()) {
        m_oracle.Note("alarm " + std::to_string(pass->number) + " names process " +
                      std::to_string(pass->processId) + " as its caller");
    }
    m_oracle.CheckPass("SendAlarm", *pass, facts, &outcome.result);
}

void Campaign::SendAlarmToOne(const Step& step) {
    const int slot = step.server;
    const bool throughItem = step.listedObject && m_listed[slot];
    const std::vector<size_t> marks = Marks();
    const long long startUtc = UtcMs();
    m_lastOrderUtc = startUtc + kCallBoundMs;
    m_oracle.Count("call: QNServer.SendAlarm");
    const auto servers = m_servers;
    const auto itemResult = std::make_shared<HRESULT>(S_OK);
    const std::wstring address = Address(slot);
    const std::wstring password = Password(slot);
    const ULONG port = m_fleet.Port(slot);
    const CallOutcome outcome = Call(
        throughItem ? "Item().SendAlarm" : "QNServer.SendAlarm",
        [servers, itemResult, address, password, port, throughItem] {
            KRVN::com_ptr<IQNServer> server;
            if (throughItem) {
                KRVN::unique_bstr key(address.c_str());
                VARIANT index;
                ::VariantInit(&index);
                V_VT(&index) = VT_BSTR;
                V_BSTR(&index) = key.get();
                KRVN::unique_variant item;
                *itemResult = servers->Item(index, item.put());
                if (*itemResult != S_OK || V_VT(&item.get()) != VT_DISPATCH) {
                    return *itemResult;
                }
                server = KRVN::com_ptr<IDispatch>(V_DISPATCH(&item.get())).try_query<IQNServer>();
                if (!server) {
                    return *itemResult = E_NOINTERFACE;
                }
            } else if (const HRESULT hr = NewServer(address, password, port, server); FAILED(hr)) {
                return *itemResult = hr;
            }
            return server->SendAlarm();
        });
    if (!outcome.returned) {
        return;
    }
    m_lastOrderUtc = UtcMs();
    if (*itemResult != S_OK) {
        m_oracle.Violation("wrong-result", "the object of listed " + Name(slot) +
                                               " could not be had: " + Hex(*itemResult));
        return;
    }
    WaitForArrivals(marks, startUtc, {slot}, nullptr, outcome.result != 0);
    m_oracle.CheckSingle(Facts(slot, marks, startUtc, nullptr), outcome.result);
    for (int other = 0; other < kServers; ++other) {
        if (other != slot && Facts(other, marks, startUtc, nullptr).arrivals > 0) {
            m_oracle.Note(Name(other) + " got an order during the SendAlarm of " + Name(slot));
        }
    }
}

void Campaign::Remove(int slot) {
    m_oracle.Count("call: Remove");
    const auto servers = m_servers;
    const std::wstring address = Address(slot);
    const CallOutcome outcome = Call("Remove", [servers, address] {
        const KRVN::unique_bstr text(address.c_str());
        return servers->Remove(text.get());
    });
    if (!outcome.returned) {
        EditStillOut(slot, outcome);
        return;
    }
    if (outcome.result != S_OK) {
        m_oracle.Violation("wrong-result",
                           "Remove of " + Name(slot) + " gave " + Hex(outcome.result));
    }
    m_listed[slot] = false;
    VerifyList();
}

void Campaign::Add(int slot) {
    m_oracle.Count("call: Add");
    const auto servers = m_servers;
    const std::wstring address = Address(slot);
    const std::wstring password = Password(slot);
    const ULONG port = m_fleet.Port(slot);
    const CallOutcome outcome = Call("Add", [servers, address, password, port] {
        KRVN::com_ptr<IQNServer> server;
        if (const HRESULT hr = NewServer(address, password, port, server); FAILED(hr)) {
            return hr;
        }
        return servers->Add(server.get());
    });
    if (!outcome.returned) {
        EditStillOut(slot, outcome);
        return;
    }
    if (outcome.result != S_OK) {
        m_oracle.Violation("wrong-result", "Add of " + Name(slot) + " gave " + Hex(outcome.result));
    }
    m_listed[slot] = true;
    VerifyList();
}

void Campaign::TryConnect(int slot) {
    m_oracle.Count("call: TryConnect");
    const auto servers = m_servers;
    const std::wstring address = Address(slot);
    const std::wstring password = Password(slot);
    const ULONG port = m_fleet.Port(slot);
    const ServerMode mode = m_fleet.Mode(TargetOf(slot));
    const CallOutcome outcome = Call("TryConnect", [servers, address, password, port] {
        KRVN::com_ptr<IQNServer> server;
        if (const HRESULT hr = NewServer(address, password, port, server); FAILED(hr)) {
            return hr;
        }
        return servers->TryConnect(server.get());
    });
    if (!outcome.returned) {
        EditStillOut(slot, outcome);
        return;
    }
    if (TakesOrders(mode) && outcome.result != 0) {
        m_oracle.Violation("try-connect", "TryConnect of " + Name(slot) + " (" + ModeName(mode) +
                                              ") gave " + Hex(outcome.result) +
                                              "; it answers its handshake within the bound");
    } else if (!TakesOrders(mode) && outcome.result == 0) {
        m_oracle.Violation("try-connect", "TryConnect of " + Name(slot) + " (" + ModeName(mode) +
                                              ") listed a server that cannot be reached");
    }
    m_listed[slot] = m_listed[slot] || outcome.result == 0;
    VerifyList();
}

void Campaign::RefreshState() {
    m_oracle.Count("call: RefreshState");
    const auto servers = m_servers;
    const CallOutcome outcome = Call("RefreshState", [servers] { return servers->RefreshState(); });
    if (outcome.returned && outcome.result != S_OK) {
        m_oracle.Violation("wrong-result", "RefreshState gave " + Hex(outcome.result));
    }
}

void Campaign::Fault(const Step& step) {
    m_oracle.Count("fault: " + TargetKind(step.server) + ModeName(step.mode));
    if (auto set = m_fleet.SetMode(step.server, step.mode, step.parameterMs); !set) {
        m_oracle.HarnessFailure(set.message());
    }
}

void Campaign::Clear(int target) {
    // Orders a stopped server buffered come in as it continues: each order's
    // window has to be over first, or its verdict would depend on timing.
    if (m_fleet.Mode(target) == ServerMode::Suspended) {
        AwaitOrderBounds();
    }
    if (auto set = m_fleet.SetMode(target, ServerMode::Normal, 0); !set) {
        m_oracle.HarnessFailure(set.message());
    }
    krvn_test::SettleFor(500);
}

void Campaign::Restart(int target) {
    m_oracle.Count("fault: " + TargetKind(target) + "restart");
    if (auto restarted = m_fleet.Restart(target); !restarted) {
        m_oracle.HarnessFailure(restarted.message());
    }
}

void Campaign::Unplug() {
    m_oracle.Count("fault: button unplugged");
    if (!VirtualButton::Unplug()) {
        m_oracle.HarnessFailure("vbutton down failed");
    }
    m_plugged = false;
    m_held = false;
}

void Campaign::PlugIn() {
    VirtualButton::Release();
    if (!VirtualButton::PlugIn()) {
        m_oracle.HarnessFailure("vbutton up failed");
        return;
    }
    m_plugged = true;
    m_held = false;
    if (!VirtualButton::WaitForDtr(kButtonWaitMs)) {
        m_oracle.Violation("port-not-back", "the service did not take the button's port back "
                                            "within " +
                                                std::to_string(kButtonWaitMs) +
                                                " ms of its return");
    }
    m_lineQuietFrom = ::GetTickCount64() + kLineSettleMs;
}

void Campaign::StartClient(const Step& step) {
    if (step.icon != IconMode::Record) {
        m_oracle.Count(std::string("fault: client icon ") + IconModeName(step.icon));
    }
    if (step.button != ButtonMode::None) {
        m_oracle.Count(std::string("fault: client button ") + ButtonModeName(step.button));
    }
    if (step.icon == IconMode::Remove) {
        AddExtra();
    }
    Client client{std::make_unique<TrayClientProcess>(step.client, step.icon, step.button)};
    const std::wstring log =
        m_settings.folder + L"\\client-" + std::to_wstring(step.client) + L".log";
    const auto started = client.process->Start(log, kExtraAddress, kClientReadyMs);
    client.process->Poll();
    client.advised = client.process->Succeeded("Advise");
    if (!started) {
        m_oracle.Note(started.message());
    }
    if (step.button != ButtonMode::None) {
        m_buttonSink = step.client;
    }
    m_clients.emplace(step.client, std::move(client));
}

void Campaign::EndClient(int id, bool kill) {
    const auto found = m_clients.find(id);
    if (found == m_clients.end()) {
        return;
    }
    TrayClientProcess& client = *found->second.process;
    if (kill) {
        m_oracle.Count("fault: client killed while advised");
        client.Kill();
        client.Poll();
        m_killedSinks += client.Succeeded("AdviseChangeIcon") + client.Succeeded("Advise");
    } else if (!client.Quit(kClientQuitMs)) {
        m_oracle.Note(ClientName(client) + " did not end within " + std::to_string(kClientQuitMs) +
                      " ms of being asked; killed");
    }
    client.Poll();
    // Unadvise empties the slot whoever filled it.
    if (!kill && client.Succeeded("Unadvise")) {
        m_buttonSink = 0;
    }
    for (const std::string& slow : client.TakeSlowCalls(kCallBoundMs)) {
        m_oracle.Violation("call-hung", ClientName(client) + ": " + slow);
    }
    m_clients.erase(found);
    // Where the service's handles and threads stand after each client, for
    // telling what any growth at the end came with.
    std::ostringstream usage;
    usage << "  service: " << krvn_e2e::MeasureProcess(m_service.ProcessId());
    m_log.Write(usage.str());
}

CallOutcome Campaign::Call(const std::string& name, std::function<HRESULT()> call) {
    const CallOutcome outcome = m_calls.Run(std::move(call), kCallBoundMs);
    if (!outcome.returned) {
        m_oracle.Violation("call-hung", name + " unanswered after " + std::to_string(outcome.ms) +
                                            " ms (" + std::to_string(m_calls.StillOut()) +
                                            " calls out)");
    } else {
        m_log.Write("  " + name + " -> " + Hex(outcome.result) + " in " +
                    std::to_string(outcome.ms) + " ms");
    }
    return outcome;
}

void Campaign::VerifyList(bool strict) {
    const auto servers = m_servers;
    const auto listed = std::make_shared<std::vector<std::wstring>>();
    const CallOutcome outcome =
        Call("_NewEnum", [servers, listed] { return Enumerate(servers, *listed); });
    if (!outcome.returned || outcome.result != S_OK) {
        return;
    }
    bool seen[kServers] = {};
    for (const std::wstring& address : *listed) {
        for (int slot = 0; slot < kServers; ++slot) {
            seen[slot] = seen[slot] || address == Address(slot);
        }
    }
    std::vector<std::wstring> expected;
    bool differs = false;
    for (int slot = 0; slot < kServers; ++slot) {
        if (ListingOf(slot) == Listing::Unknown) {
            continue;
        }
        differs = differs || seen[slot] != m_listed[slot];
        if (m_listed[slot]) {
            expected.push_back(Address(slot));
        }
        m_listed[slot] = seen[slot];
    }
    if (strict && differs) {
        m_oracle.Violation("list-mismatch", "the list edits made " + ListText(expected) +
                                                "; the service lists " + ListText(*listed));
    }
}

Listing Campaign::ListingOf(int slot) const {
    for (const auto& [edited, returned] : m_openEdits) {
        if (edited == slot && !*returned) {
            return Listing::Unknown;
        }
    }
    return m_listed[slot] ? Listing::Yes : Listing::No;
}

void Campaign::EditStillOut(int slot, const CallOutcome& outcome) {
    m_openEdits.emplace_back(slot, outcome.finished);
}

void Campaign::AddExtra() {
    const auto servers = m_servers;
    const CallOutcome outcome = Call("Add(extra)", [servers] {
        KRVN::com_ptr<IQNServer> server;
        if (const HRESULT hr = NewServer(kExtraAddress, kExtraPassword, kExtraPort, server);
            FAILED(hr)) {
            return hr;
        }
        return servers->Add(server.get());
    });
    if (outcome.returned && outcome.result != S_OK) {
        m_oracle.Violation("wrong-result", "Add of the extra server gave " + Hex(outcome.result));
    }
    m_extra = Listing::Unknown;
}

std::vector<size_t> Campaign::Marks() {
    m_fleet.Poll();
    std::vector<size_t> marks;
    for (int slot = 0; slot < kServers; ++slot) {
        marks.push_back(m_fleet.Arrivals(slot));
    }
    return marks;
}

bool Campaign::AnyArrivalSince(const std::vector<size_t>& marks) {
    m_fleet.Poll();
    for (int slot = 0; slot < kServers; ++slot) {
        if (m_fleet.Arrivals(slot) > marks[slot]) {
            return true;
        }
    }
    return false;
}

void Campaign::WaitForArrivals(const std::vector<size_t>& marks, long long startUtc,
                               const std::vector<int>& slots, const AlarmPass* pass,
                               bool reportedFailed) {
    // An order the service has finished with and reported failed can no
    // longer arrive: a short grace is enough for it. Any other may arrive up
    // to the bound.
    const long long bound = startUtc + Oracle::kBoundMs + Oracle::kSlackMs;
    const long long grace = UtcMs() + kFailedGraceMs;
    std::vector<std::pair<int, long long>> due;
    for (int slot = 0; slot < kServers; ++slot) {
        const bool asked =
            slots.empty() || std::find(slots.begin(), slots.end(), slot) != slots.end();
        if (!asked || ListingOf(slot) != Listing::Yes ||
            !TakesOrders(m_fleet.Mode(TargetOf(slot)))) {
            continue;
        }
        const ReportedOrder* report = pass ? pass->OrderTo(Narrow(Address(slot))) : nullptr;
        const bool failed = reportedFailed || (report && report->report == OrderReport::Failed);
        due.emplace_back(slot, failed ? std::min(grace, bound) : bound);
    }
    for (;;) {
        const long long now = UtcMs();
        const bool waiting = std::any_of(due.begin(), due.end(), [&](const auto& server) {
            return now <= server.second &&
                   Facts(server.first, marks, startUtc, nullptr).arrivals == 0;
        });
        if (!waiting) {
            return;
        }
        krvn_test::PauseFor(kPollMs);
        m_fleet.Poll();
    }
}

OrderFacts Campaign::Facts(int slot, const std::vector<size_t>& marks, long long startUtc,
                           const AlarmPass* pass) {
    OrderFacts facts;
    facts.name = Name(slot);
    facts.address = Narrow(Address(slot));
    facts.listed = ListingOf(slot);
    const ServerMode mode = m_fleet.Mode(TargetOf(slot));
    facts.takesOrders = TakesOrders(mode);
    facts.mode = ModeName(mode);
    const long long until = startUtc + Oracle::kBoundMs + Oracle::kSlackMs;
    for (size_t index = marks[slot]; index < m_fleet.Arrivals(slot); ++index) {
        const long long at = m_fleet.ArrivalTime(slot, index);
        if (at >= startUtc && at <= until) {
            if (facts.arrivals++ == 0) {
                facts.firstArrivalMs = at - startUtc;
            }
        }
    }
    facts.report = pass ? pass->OrderTo(facts.address) : nullptr;
    return facts;
}

std::vector<OrderFacts> Campaign::AllFacts(const std::vector<size_t>& marks, long long startUtc,
                                           const AlarmPass* pass) {
    m_fleet.Poll();
    std::vector<OrderFacts> facts;
    for (int slot = 0; slot < kServers; ++slot) {
        facts.push_back(Facts(slot, marks, startUtc, pass));
    }
    OrderFacts extra;
    extra.name = "extra";
    extra.address = Narrow(kExtraAddress);
    extra.listed = m_extra;
    extra.mode = "nothing listens";
    extra.report = pass ? pass->OrderTo(extra.address) : nullptr;
    facts.push_back(extra);
    return facts;
}

const AlarmPass* Campaign::AwaitPass(PassSource source, DWORD boundMs,
                                     const std::function<bool()>& enough) {
    const ULONGLONG deadline = ::GetTickCount64() + boundMs;
    for (;;) {
        m_passes.Poll();
        if (const AlarmPass* pass = m_passes.FinishedAfter(m_claimedPass, source)) {
            Claim(*pass);
            return pass;
        }
        if ((enough && enough()) || ::GetTickCount64() >= deadline) {
            return nullptr;
        }
        krvn_test::PauseFor(kPollMs);
    }
}

void Campaign::Claim(const AlarmPass& pass) {
    for (const AlarmPass* earlier : m_passes.AllFinishedAfter(m_claimedPass)) {
        if (earlier->number < pass.number) {
            m_oracle.Note("alarm " + std::to_string(earlier->number) + " was no step's");
        }
    }
    m_claimedPass = pass.number;
}

void Campaign::AwaitLineQuiet() {
    const ULONGLONG now = ::GetTickCount64();
    if (now < m_lineQuietFrom) {
        krvn_test::SettleFor(static_cast<DWORD>(m_lineQuietFrom - now));
    }
}

void Campaign::AwaitOrderBounds() {
    const long long until = m_lastOrderUtc + Oracle::kBoundMs + Oracle::kSlackMs;
    const long long now = UtcMs();
    if (now < until) {
        krvn_test::QuietFor(static_cast<DWORD>(until - now));
    }
}

void Campaign::PollClients() {
    for (auto& [id, client] : m_clients) {
        client.process->Poll();
        client.advised = client.advised || client.process->Succeeded("Advise");
        for (const std::string& slow : client.process->TakeSlowCalls(kCallBoundMs)) {
            m_oracle.Violation("call-hung", ClientName(*client.process) + ": " + slow);
        }
    }
}

void Campaign::Tail() {
    while (!m_clients.empty()) {
        EndClient(m_clients.begin()->first, false);
    }
    for (int target = 0; target < kFaultTargets; ++target) {
        if (m_fleet.Mode(target) != ServerMode::Normal) {
            Clear(target);
        }
    }
    if (!m_plugged) {
        PlugIn();
    }
    const auto servers = m_servers;
    const CallOutcome removed = Call("Remove(extra)", [servers] {
        const KRVN::unique_bstr address(kExtraAddress);
        return servers->Remove(address.get());
    });
    if (removed.returned) {
        m_extra = Listing::No;
    }
    for (int slot = 0; slot < kServers; ++slot) {
        if (!m_listed[slot]) {
            TryConnect(slot);
        }
    }
    if (!m_calls.WaitForAbandoned(kStragglerWaitMs)) {
        m_oracle.Violation("call-hung", std::to_string(m_calls.StillOut()) +
                                            " calls never returned, once every fault was cleared "
                                            "and every client ended");
    }
    RefreshState();
    const auto state = std::make_shared<eConnectState>(UnknownState);
    const bool connected = krvn_test::WaitUntil(
        [&] {
            const CallOutcome read =
                m_calls.Run([servers, state] { return servers->get_State(state.get()); }, 2000);
            return read.returned && *state == AllConnected;
        },
        kFinalStateWaitMs, 500);
    if (!connected) {
        m_oracle.Violation("final-state", "every server up and listed, yet State is " +
                                              std::to_string(*state) + ", not 1 (all connected), " +
                                              std::to_string(kFinalStateWaitMs) +
                                              " ms after RefreshState");
    }
    Press();
    SendAlarm();
    AfterStep();
    // The storm test's slack for a first storm (a new high-water mark of the
    // pool of call threads and their handles), registry keys counted apart.
    krvn_e2e::UsageSlack slack{40, 20, 10};
    slack.handles += m_killedSinks;
    m_end = krvn_e2e::RestingUsage(m_service.ProcessId(), 1, &m_baseline, slack);
    if (const std::string growth = krvn_e2e::Growth(m_baseline, m_end, slack); !growth.empty()) {
        m_oracle.Violation("growth", "the service " + growth);
    }
}

void Campaign::CleanUp() {
    if (m_cleanedUp) {
        return;
    }
    m_cleanedUp = true;
    for (auto& [id, client] : m_clients) {
        client.process->Kill();
    }
    m_clients.clear();
    m_servers.reset();
    m_service.End();
    m_fleet.End();
    VirtualButton::Release();
    if (!m_plugged) {
        VirtualButton::PlugIn();
        m_plugged = true;
    }
    // The prefix as the campaign found it: no registration, no settings.
    krvn_e2e::Tolvane(L"-UnregServer");
    krvn_e2e::ClearSettings();
}

void Campaign::PrintSummary(ULONGLONG scheduleMs, ULONGLONG tailMs, unsigned steps) {
    char seed[32];
    std::snprintf(seed, sizeof seed, "%llu", static_cast<unsigned long long>(m_settings.seed));
    const long presses = m_oracle.Counted("press: alarm due") +
                         m_oracle.Counted("press: a live sink may take it") +
                         m_oracle.Counted("press: a live client may ignore it") +
                         m_oracle.Counted("press: button unplugged");
    std::ostringstream usage;
    usage << m_baseline << " before, " << m_end << " after (" << m_killedSinks
          << " sinks of killed clients released, one handle each allowed)";
    m_log.Show(std::string("SUMMARY seed=") + seed + " steps=" + std::to_string(steps) +
               " schedule=" + std::to_string(scheduleMs / 1000) +
               " s tail=" + std::to_string(tailMs / 1000) + " s");
    m_log.Show("  presses: " + std::to_string(presses) + " (" + m_oracle.Counters("press: ") +
               "; " + m_oracle.Counters("outcome: ") + ")");
    m_log.Show("  calls: " + m_oracle.Counters("call: "));
    m_log.Show("  orders checked: " + std::to_string(m_oracle.Counted("orders checked")));
    m_log.Show("  faults injected: " + m_oracle.Counters("fault: "));
    m_log.Show("  service: " + usage.str());
    m_log.Show(
        "  violations: " + std::to_string(m_oracle.Violations()) +
        (m_oracle.HarnessFailures() != 0
             ? " (the campaign itself failed: " + std::to_string(m_oracle.HarnessFailures()) + ")"
             : std::string()));
    for (const std::string& line : m_oracle.ViolationSummary()) {
        m_log.Show(line);
    }
}

} // namespace krvn_chaos
